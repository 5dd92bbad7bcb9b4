#pragma once

#include "ProductInfo.h"

#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <memory>

class RecordReaders;

// Runs a select on the product table and hands its rows out as records, in batches of
// batchSize in row order (the last one shorter, possibly empty). Reading and building overlap:
// while the calling thread reads buildSize rows, a helper builds the records of the rows before.
// Where Qt's SQLite driver runs on the system's libsqlite3, the rows are stepped on its handle.
class RecordQuery
{
public:
    static constexpr int batchSize = 101;
    // Rows built per hand-over to the helper. Several batches at a time: each hand-over wakes
    // the helper, and batches emitted back to back wake the receiving thread once.
    static constexpr int buildSize = 4 * batchSize;

    using Batch = QList<std::shared_ptr<tlv::ProductInfo>>;
    // Asked before every row: false stops the query without a last batch.
    using Proceed = std::function<bool()>;
    // Takes one batch; `last` is true for the last one of a query that read every row. False
    // stops the query.
    using Emit = std::function<bool(bool last, const Batch &batch)>;

    struct Outcome
    {
        enum Kind { Read, NotExecuted, ReadFailed } kind;
        QString error; // the driver's text, as Qt's driver words it
    };

    // Values for the statement's named parameters (":from"), bound as texts.
    using Binds = QMap<QString, QString>;

    // A statement that does not execute delivers nothing; rows that end on a read error (a
    // damaged page) are delivered as far as they were read, without a last batch. A caller that
    // runs one query after another passes the same `readers` to each (see RecordReaders).
    static Outcome run(QSqlDatabase &db, const QString &sql, const Proceed &proceed, const Emit &emitBatch,
        const Binds &binds = {}, RecordReaders *readers = nullptr);
};
