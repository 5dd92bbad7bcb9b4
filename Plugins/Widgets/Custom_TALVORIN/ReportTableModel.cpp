#include "ReportTableModel.h"

#include <QBrush>

namespace {

constexpr int kStatusOk = 3;

} // namespace

ReportTableModel::ReportTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void ReportTableModel::setHeaders(const QStringList &headers)
{
    m_headers = headers;
}

void ReportTableModel::appendDatas(const QList<std::shared_ptr<tlv::ProductInfo>> &datas)
{
    if (datas.isEmpty())
        return;
    const int first = m_datas.size();
    beginInsertRows(QModelIndex(), first, first + datas.size() - 1);
    m_datas.reserve(first + datas.size());
    for (const auto &product : datas)
        m_datas.append(product);
    endInsertRows();
}

void ReportTableModel::clearDatas()
{
    beginResetModel();
    m_datas.clear();
    endResetModel();
}

int ReportTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_datas.size();
}

int ReportTableModel::columnCount(const QModelIndex &) const
{
    return m_headers.size();
}

QVariant ReportTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_datas.size())
        return QVariant();
    const tlv::ProductInfo &product = *m_datas.at(index.row());
    const bool ok = product.status == kStatusOk;

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
            switch (product.status) {
            case 0:
                return QStringLiteral("尺寸NG，外观NG");
            case 1:
                return QStringLiteral("外观NG");
            case 2:
                return QStringLiteral("尺寸NG");
            default:
                return QString();
            }
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
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return (section >= 0 && section < m_headers.size()) ? QVariant(m_headers.at(section)) : QVariant();
    return section + 1;
}

std::weak_ptr<tlv::ProductInfo> ReportTableModel::getProduct(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_datas.size())
        return std::weak_ptr<tlv::ProductInfo>();
    return m_datas.at(index.row());
}

float ReportTableModel::getOkRate() const
{
    if (m_datas.isEmpty())
        return 0.0f;
    int okCount = 0;
    for (const auto &product : m_datas) {
        if (product->status == kStatusOk)
            ++okCount;
    }
    return float(okCount) / float(m_datas.size()) * 100.0f;
}
