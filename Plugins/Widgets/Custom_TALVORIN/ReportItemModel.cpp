#include "ReportItemModel.h"

#include <QBrush>

ReportItemModel::ReportItemModel(QObject *parent)
    : RecordListModel(parent)
{
}

QVariant ReportItemModel::data(const QModelIndex &index, int role) const
{
    const auto *record = recordAt(index);
    if (!record)
        return QVariant();
    const tlv::HoleInfo &hole = **record;

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
