#include "DefectPareto.h"

#include <QHash>

#include <algorithm>

QVector<DefectPareto::Cause> DefectPareto::of(const QVector<std::shared_ptr<tlv::ProductInfo>> &products)
{
    const QString sizeNg = QStringLiteral("尺寸NG");
    QHash<QString, int> counts;
    for (const std::shared_ptr<tlv::ProductInfo> &product : products) {
        if (!product)
            continue;
        for (const std::shared_ptr<tlv::HoleInfo> &hole : product->vtHoles) {
            if (hole && !hole->status)
                ++counts[sizeNg];
        }
        for (const std::shared_ptr<tlv::ApeInfo> &finding : product->vtApes) {
            if (!finding || finding->status)
                continue;
            for (const QString &name : finding->ngtypes)
                ++counts[name];
        }
    }
    QVector<Cause> causes;
    causes.reserve(counts.size());
    qint64 total = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        causes.append({ it.key(), it.value(), 0.0 });
        total += it.value();
    }
    std::sort(causes.begin(), causes.end(), [](const Cause &a, const Cause &b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
    qint64 running = 0;
    for (Cause &cause : causes) {
        running += cause.count;
        cause.cumulativeShare = double(running) / double(total);
    }
    return causes;
}
