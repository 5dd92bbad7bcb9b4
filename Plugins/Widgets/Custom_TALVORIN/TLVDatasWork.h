#pragma once

#include "ProductInfo.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

// The report's access to the product database. Lives on the report dialog's worker thread:
// finds the products of a time range in batches and can purge old rows. Each slot opens the
// private connection itself and closes it again.
class TLVDatasWork : public QObject
{
    Q_OBJECT

public:
    explicit TLVDatasWork(const QString &dbPath, QObject *parent = nullptr);
    ~TLVDatasWork() override;

signals:
    void Signal_FindResult(bool bCompleted, QList<std::shared_ptr<tlv::ProductInfo>> vtDatas);

public slots:
    void Slot_FindData(QString tmStart, QString tmEnd, QString key);
    void Slot_ClearExpiredDate(int day);

private:
    QSqlDatabase m_db;
};
