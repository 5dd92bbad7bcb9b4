#pragma once

#include "ProductInfo.h"
#include "RecordListModel.h"

// The found products of the report, one row each, rows numbered from 1.
class ReportTableModel : public RecordListModel<tlv::ProductInfo>
{
    Q_OBJECT

public:
    explicit ReportTableModel(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    std::weak_ptr<tlv::ProductInfo> getProduct(const QModelIndex &index) const;
    // Every row's product in row order; the list is shared with the model, not copied, until
    // either side changes it.
    QVector<std::shared_ptr<tlv::ProductInfo>> products() const { return records(); }
    // Percentage of OK rows (status 3), in single precision; 0 without rows.
    float getOkRate() const;
};
