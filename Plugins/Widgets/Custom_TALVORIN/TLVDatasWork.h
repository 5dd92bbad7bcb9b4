#pragma once

#include "ProductInfo.h"
#include "RecordQuery.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class FindSequence;
class RecordReaders;

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
    // The products of the range whose barcode holds `text` (a material number, an order number
    // or any part), all of the range when it is empty, read through the history index where the
    // file has one; bound values, so a quote or a % is found as it is.
    void Slot_FindHistory(QString tmStart, QString tmEnd, QString text);

public:
    // Set before the worker moves to its thread: lets a query stop once a newer one is
    // requested and lets the receiver recognise the batches of abandoned queries.
    void setFindSequence(std::shared_ptr<FindSequence> sequence);

private:
    bool openConnection();
    // The number of a request that is still wanted, or -1.
    int startRequest();
    bool stillWanted(int request) const;
    // Runs the query and emits its batches; a read error mid-way is told to the sequence.
    RecordQuery::Outcome deliver(int request, const QString &sql, const RecordQuery::Binds &binds);

    QSqlDatabase m_db;
    QString m_dbPath;
    QString m_connectionName;
    // Used on the worker's thread only, one query at a time.
    std::unique_ptr<RecordReaders> m_readers;
    std::shared_ptr<FindSequence> m_sequence;
};
