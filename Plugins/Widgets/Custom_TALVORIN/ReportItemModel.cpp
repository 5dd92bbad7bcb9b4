#include "ReportItemModel.h"

#include <QBrush>

ReportItemModel::ReportItemModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void ReportItemModel::setHeaders(const QStringList &headers)
{
    m_headers = headers;
}

void ReportItemModel::appendDatas(const QList<std::shared_ptr<tlv::HoleInfo>> &datas)
{
    if (datas.isEmpty())
        return;
    const int first = m_datas.size();
    beginInsertRows(QModelIndex(), first, first + datas.size() - 1);
    m_datas.reserve(first + datas.size());
    for (const auto &hole : datas)
        m_datas.append(hole);
    endInsertRows();
}

void ReportItemModel::clearDatas()
{
    beginResetModel();
    m_datas.clear();
    endResetModel();
}

int ReportItemModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_datas.size();
}

int ReportItemModel::columnCount(const QModelIndex &) const
{
    return m_headers.size();
}

QVariant ReportItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_datas.size())
        return QVariant();
    const tlv::HoleInfo &hole = *m_datas.at(index.row());

    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            return hole.idx;
        case 1:
            return hole.status ? QStringLiteral("OK") : QStringLiteral("NG");
        case 2:
            return hole.position;
        case 3:
            return hole.value;
        default:
            return QVariant();
        }
    case Qt::ForegroundRole:
        return hole.status ? QVariant() : QVariant(QBrush(Qt::red));
    case Qt::TextAlignmentRole:
        return int(Qt::AlignHCenter | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant ReportItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    return (section >= 0 && section < m_headers.size()) ? QVariant(m_headers.at(section)) : QVariant();
}
