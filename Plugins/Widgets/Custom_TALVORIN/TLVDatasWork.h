#pragma once

#include "ProductInfo.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class FindSequence;

// The report's access to the product database. Lives on the report dialog's worker thread:
// finds the products of a time range in batches and can purge old rows. Each slot opens the
// private connection itself and closes it again; the connection is added on the worker thread
// by the first slot and removed by the destructor, which runs there too.
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

public:
    // Set before the worker moves to its thread: lets a query stop once a newer one is
    // requested and lets the receiver recognise the batches of abandoned queries.
    void setFindSequence(std::shared_ptr<FindSequence> sequence);

private:
    bool openConnection();

    QSqlDatabase m_db;
    QString m_dbPath;
    QString m_connectionName;
    std::shared_ptr<FindSequence> m_sequence;
};
