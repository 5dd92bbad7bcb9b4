#pragma once

#include "HoleInfo.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

#include <memory>

// The holes of the product shown in detail, one row each. Read-only; shares the records.
class ReportItemModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ReportItemModel(QObject *parent = nullptr);

    void setHeaders(const QStringList &headers);
    void appendDatas(const QList<std::shared_ptr<tlv::HoleInfo>> &datas);
    void clearDatas();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVector<std::shared_ptr<tlv::HoleInfo>> m_datas;
    QStringList m_headers;
};
