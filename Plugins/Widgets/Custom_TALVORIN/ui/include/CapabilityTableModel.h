#pragma once

#include "CapabilityStudy.h"

#include <QAbstractTableModel>
#include <QVector>

// The capability table: one row per characteristic in the study's order (lowest Cpk first), the
// workbook's columns and a last one that says when the limits changed within the range. The Cpk
// cell is red below 1.00, amber below 1.33 and green otherwise; figures that are not finite stay
// empty.
class CapabilityTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Name,
        N,
        Mean,
        SigmaWithin,
        SigmaOverall,
        Low,
        Up,
        Cp,
        Cpk,
        Pp,
        Ppk,
        Ng,
        Note,
        ColumnCount
    };

    explicit CapabilityTableModel(QObject *parent = nullptr);

    void setRows(QVector<CharacteristicCapability> rows);
    const QVector<CharacteristicCapability> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The colour of a Cpk: #F56C6C below 1.00, #E6A23C below 1.33, #67C23A from there on.
    static QString cpkColour(double cpk);

private:
    double figure(const CharacteristicCapability &c, int column) const;

    QVector<CharacteristicCapability> m_rows;
};
