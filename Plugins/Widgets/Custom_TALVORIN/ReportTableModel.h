#pragma once

#include "ProductInfo.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

#include <memory>

// The found products of the report, one row each. Read-only; shares the worker's records.
class ReportTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ReportTableModel(QObject *parent = nullptr);

    void setHeaders(const QStringList &headers);
    void appendDatas(const QList<std::shared_ptr<tlv::ProductInfo>> &datas);
    void clearDatas();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    std::weak_ptr<tlv::ProductInfo> getProduct(const QModelIndex &index) const;
    // Percentage of OK rows (status 3), in single precision; 0 without rows.
    float getOkRate() const;

private:
    QVector<std::shared_ptr<tlv::ProductInfo>> m_datas;
    QStringList m_headers;
};
