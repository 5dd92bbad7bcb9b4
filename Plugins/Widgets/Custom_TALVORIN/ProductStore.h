#pragma once

#include "ProductRow.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>

class QSqlError;

// The product table on the process-wide connection "tlv": opens it, checks or creates the
// table, keeps the write-ahead journal on and stores products. A product whose insert fails
// waits in order and is stored as soon as the file takes rows again.
class ProductStore : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *connectionName = "tlv";
    static constexpr const char *createTableSql
        = "create table product_data_new (id integer primary key autoincrement not null,uptime text, pid "
          "integer, "
          "barcode text,psize text,diameter text,appearance text, status integer)";
    static constexpr const char *insertSql = "INSERT INTO product_data_new (uptime, pid, barcode, psize, "
                                             "diameter, appearance, status) VALUES (:dtime, "
                                             ":dpid, :dbc, :dsize, :ddia, :dapp, :dsta)";
    // A day of a fast line.
    static constexpr int defaultQueueLimit = 100000;

    explicit ProductStore(QObject *parent = nullptr);
    // Flushes once more and logs every product still unsaved.
    ~ProductStore() override;

    // Uses the connection "tlv" if the process has it (its file stays), otherwise adds it on
    // `path`; then opens it and checks the table. False when the file could not be opened.
    bool open(const QString &path);
    // Stores `row` after every product still waiting. True when it is in the file now; false
    // when it waits (or, with the queue full, is dropped).
    bool store(const ProductRow &row);
    // Stores waiting products in order until one fails. True when none is left.
    bool flush();

    int pending() const { return int(m_queue.size()); }
    void setQueueLimit(int limit) { m_queueLimit = limit; }
    QSqlDatabase database() const { return m_db; }
    // The file the connection writes to.
    QString filePath() const { return m_db.databaseName(); }

private:
    enum class Table { Ready, Unknown, Unusable };

    bool ensureOpen();
    void prepareConnection();
    Table checkTable(bool startUp);
    void reportForeignColumns();
    bool insert(const ProductRow &row, QSqlError &error);
    static bool transient(const QSqlError &error);

    QSqlDatabase m_db;
    std::deque<ProductRow> m_queue;
    int m_queueLimit = defaultQueueLimit;
    QSqlQuery m_insert;
    bool m_insertReady = false;
    bool m_tableReady = false;
    bool m_walPending = false;
    QString m_failure; // why the last attempt failed
    QString m_loggedFailure; // the failure last written to the log
    QTimer m_retryTimer;
};
