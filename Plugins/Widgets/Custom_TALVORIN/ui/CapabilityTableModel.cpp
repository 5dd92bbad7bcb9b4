#include "CapabilityTableModel.h"

#include "CapabilityWorkbookWriter.h"

#include <QBrush>
#include <QColor>

#include <cmath>
#include <limits>

CapabilityTableModel::CapabilityTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void CapabilityTableModel::setRows(QVector<CharacteristicCapability> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CapabilityTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int CapabilityTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString CapabilityTableModel::cpkColour(double cpk)
{
    if (cpk < 1.0)
        return QStringLiteral("#F56C6C");
    if (cpk < 1.33)
        return QStringLiteral("#E6A23C");
    return QStringLiteral("#67C23A");
}

double CapabilityTableModel::figure(const CharacteristicCapability &c, int column) const
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    switch (column) {
    case Mean:
        return c.statistics.mean;
    case SigmaWithin:
        return c.statistics.sigmaWithin;
    case SigmaOverall:
        return c.statistics.sigmaOverall;
    case Low:
        return c.hasLimits ? c.limits.low : none;
    case Up:
        return c.hasLimits ? c.limits.up : none;
    case Cp:
        return c.indices.cp;
    case Cpk:
        return c.indices.cpk;
    case Pp:
        return c.indices.pp;
    case Ppk:
        return c.indices.ppk;
    default:
        return none;
    }
}

QVariant CapabilityTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const CharacteristicCapability &c = m_rows.at(index.row());
    const int column = index.column();
    if (role == Qt::TextAlignmentRole)
        return column == Name || column == Note ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::BackgroundRole && column == Cpk && std::isfinite(c.indices.cpk))
        return QBrush(QColor(cpkColour(c.indices.cpk)));
    if (role == Qt::ForegroundRole && column == Cpk && std::isfinite(c.indices.cpk))
        return QBrush(Qt::white);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (column) {
    case Name:
        return c.name;
    case N:
        return c.statistics.n;
    case Ng:
        return c.ngCount >= 0 ? QVariant(c.ngCount) : QVariant();
    case Note:
        if (!c.hasLimits)
            return QStringLiteral("无限值记录");
        return c.limitsChanged ? QStringLiteral("范围内限值有变更") : QVariant();
    default:
        break;
    }
    const double value = figure(c, column);
    if (!std::isfinite(value))
        return QVariant();
    const bool index4 = column == Cp || column == Cpk || column == Pp || column == Ppk;
    return index4 ? QString::number(value, 'f', 2) : QString::number(value, 'g', 6);
}

QVariant CapabilityTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == Note)
        return QStringLiteral("备注");
    return CapabilityWorkbookWriter::headers().value(section);
}
