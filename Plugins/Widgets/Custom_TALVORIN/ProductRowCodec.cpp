#include "ProductRowCodec.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

QString ProductRowCodec::psizeText(const QMap<QString, double> &sizeValues)
{
    if (sizeValues.isEmpty())
        return QString();
    QStringList parts;
    parts.reserve(sizeValues.size());
    for (auto it = sizeValues.cbegin(); it != sizeValues.cend(); ++it)
        parts << QStringLiteral("%1:%2").arg(it.key()).arg(it.value(), 0, 'g', 6);
    return parts.join(QLatin1Char(';'));
}

QString ProductRowCodec::diameterJson(const QList<HoleEntry> &holes)
{
    QJsonArray array;
    for (const HoleEntry &hole : holes) {
        QJsonObject object;
        object.insert(QStringLiteral("idx"), hole.idx);
        object.insert(QStringLiteral("status"), hole.status);
        object.insert(QStringLiteral("position"), static_cast<double>(hole.position));
        object.insert(QStringLiteral("value"), hole.value);
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString ProductRowCodec::appearanceJson(const QList<ApeEntry> &findings)
{
    QJsonArray array;
    for (const ApeEntry &finding : findings) {
        QJsonObject object;
        object.insert(QStringLiteral("idx"), finding.idx);
        object.insert(QStringLiteral("status"), finding.status);
        object.insert(QStringLiteral("position"), static_cast<double>(finding.position));
        object.insert(QStringLiteral("ngtypes"), QJsonArray::fromStringList(finding.ngtypes));
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString ProductRowCodec::uptimeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
