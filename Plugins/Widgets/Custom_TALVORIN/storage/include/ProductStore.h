#pragma once

#include "StoredRow.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstddef>
#include <deque>

// The product table on the process-wide connection "tlv": opens it, checks or creates the
// table, keeps the write-ahead journal on and stores products. A product the file cannot take
// now (locked, full, unreachable) waits in order and is stored as soon as it takes rows again; a
// product the table refuses for good (a constraint, a trigger) is set aside as one JSON line in
// the unsaved-products file beside the database, so it neither blocks the others nor is lost.
// The write-ahead log is folded back into the file now and then, and fully when the store goes,
// so that a copy of the database file alone holds the products (all of them once it is gone).
class ProductStore : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *connectionName = "tlv";
    // A day of a fast line.
    static constexpr int defaultQueueLimit = 100000;
    // A copy of the file alone lacks at most the products of the last minute, or of the last
    // thousand on a fast line.
    static constexpr int defaultCheckpointMs = 60000;
    static constexpr int checkpointProducts = 1000;

    explicit ProductStore(QObject *parent = nullptr);
    // Flushes once more, logs every product still unsaved and folds the whole write-ahead log
    // back into the file.
    ~ProductStore() override;

    // Uses the connection "tlv" if the process has it (its file stays), otherwise adds it on
    // `path`; then opens it and checks the table. False when the file could not be opened.
    bool open(const QString &path);
    // Stores `row` after every product still waiting. True when it is in the file now; false
    // when it waits, was set aside or, with the queue full, is dropped.
    bool store(const StoredRow &row);
    // Stores waiting products in order, setting aside the ones refused for good, until one
    // cannot be stored now. True when none is left.
    bool flush();

    int pending() const { return int(m_queue.size()); }
    void setQueueLimit(int limit) { m_queueLimit = limit; }
    // Longest time a stored product stays in the write-ahead log alone.
    void setCheckpointInterval(int ms) { m_checkpointTimer.setInterval(ms); }
    // With a history keeper running on the file, the keeper folds the log back on its thread:
    // the store then neither checkpoints on its own nor lets SQLite's automatic checkpoint run
    // in an insert, which copies whatever the keeper's index slices put in the log, on the GUI
    // thread. The log is still emptied when the store is destroyed.
    void setLogFoldedElsewhere(bool elsewhere);
    QSqlDatabase database() const { return m_db; }
    // The file the connection writes to.
    QString filePath() const { return m_db.databaseName(); }
    // Where refused products go: "TLV.unsaved.jsonl" beside "TLV.db".
    QString unsavedPath() const;

private:
    enum class Table { Ready, Unknown, Unusable };
    // Why the products still waiting could not be stored on the last attempt.
    struct Failure
    {
        enum class Kind { None, Open, TableList, CreateTable, Write };
        Kind kind = Kind::None;
        QString text; // the driver's error text
        QString describe() const;
        bool operator==(const Failure &other) const { return kind == other.kind && text == other.text; }
    };

    bool ensureOpen();
    void prepareConnection();
    Table checkTable(bool startUp);
    void reportForeignColumns();
    bool insert(const StoredRow &row, QSqlError &error);
    static bool transient(const QSqlError &error);
    // After products were stored: folds the log back once enough of them wait there.
    void foldLogSoon();
    // PASSIVE copies what no reader still needs and never waits; TRUNCATE waits for readers
    // and empties the log. True when the file holds every committed product.
    bool checkpoint(const char *mode);
    // Appends `row` as one JSON line to the unsaved-products file; `json` is that line.
    bool setAside(const StoredRow &row, const QString &reason, QByteArray &json, QString &why) const;
    // Sets aside a product the store gives up on (never stored by the end, or no room in the
    // queue), with a critical line either way.
    void giveUp(const StoredRow &row, const QString &reason) const;

    QSqlDatabase m_db;
    std::deque<StoredRow> m_queue;
    int m_queueLimit = defaultQueueLimit;
    QSqlQuery m_insert;
    bool m_insertReady = false;
    bool m_tableReady = false;
    bool m_walPending = false;
    Failure m_failure; // why the last attempt failed
    Failure m_loggedFailure; // the failure last written to the log
    bool m_newestSetAside = false; // the product store() queued last was refused
    QTimer m_retryTimer;
    bool m_attached = false; // open() has set m_db
    int m_sinceCheckpoint = 0; // products stored since the last checkpoint
    QTimer m_checkpointTimer;
    bool m_foldElsewhere = false;
};
