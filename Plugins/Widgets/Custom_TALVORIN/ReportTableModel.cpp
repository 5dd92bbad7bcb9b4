#include "ReportTableModel.h"

#include "ProductStatus.h"

#include <QBrush>

ReportTableModel::ReportTableModel(QObject *parent)
    : RecordListModel(parent)
{
}

QVariant ReportTableModel::data(const QModelIndex &index, int role) const
{
    const auto *record = recordAt(index);
    if (!record)
        return QVariant();
    const tlv::ProductInfo &product = **record;
    const bool ok = ProductStatus::isOk(product.status);

    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case 0:
            return product.uptime;
        case 1:
            return product.barcode;
        case 2:
            return product.psize;
        case 3:
            return ok ? QStringLiteral("OK") : QStringLiteral("NG");
        case 4:
            return ProductStatus::text(product.status, QChar(u'，'));
        default:
            return QVariant();
        }
    }
    // The size and barcode columns are narrower than their texts.
    if (role == Qt::ToolTipRole && (index.column() == 1 || index.column() == 2))
        return index.column() == 1 ? product.barcode : product.psize;
    if (role == Qt::ForegroundRole && !ok && (index.column() == 3 || index.column() == 4))
        return QBrush(Qt::red);
    return QVariant();
}

QVariant ReportTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::DisplayRole && orientation == Qt::Vertical)
        return section + 1;
    return RecordListModel::headerData(section, orientation, role);
}

std::weak_ptr<tlv::ProductInfo> ReportTableModel::getProduct(const QModelIndex &index) const
{
    const auto *record = recordAt(index);
    return record ? std::weak_ptr<tlv::ProductInfo>(*record) : std::weak_ptr<tlv::ProductInfo>();
}

float ReportTableModel::getOkRate() const
{
    if (records().isEmpty())
        return 0.0f;
    int okCount = 0;
    for (const auto &product : records()) {
        if (ProductStatus::isOk(product->status))
            ++okCount;
    }
    return float(okCount) / float(records().size()) * 100.0f;
}
