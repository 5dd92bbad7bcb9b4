#pragma once

#include <QByteArray>
#include <QString>

struct pg_conn;

// The plant's PostgreSQL server as the feed uses it, over libpq: the table tlv_products, created
// when missing, and batches of rows copied into it in one transaction each.
//
// A batch goes in with COPY straight into the table, unless the server already holds rows of the
// station above the feed's mark: a run ended between the server's commit and the mark's write
// left them, or the mark was lost. Then the batch goes through a temporary table and
// INSERT ... ON CONFLICT DO NOTHING on (station, local_id), so no row arrives twice.
class CentralFeed
{
public:
    static const char *createSql();

    explicit CentralFeed(const QString &conninfo);
    ~CentralFeed();
    CentralFeed(const CentralFeed &) = delete;
    CentralFeed &operator=(const CentralFeed &) = delete;

    bool connect(QString *error);
    void disconnect();
    bool isConnected() const;

    // Starts a batch of `station`'s rows above `after`.
    bool begin(const QString &station, qint64 after, QString *error);
    // Rows in COPY text format (CopyRows), in as many pieces as the caller likes.
    bool put(const QByteArray &rows, QString *error);
    // Ends the batch; true once the server has committed it.
    bool commit(QString *error);
    // Gives the batch up (the server rolls it back).
    void abort();

private:
    bool exec(const char *sql, QString *error);
    QString lastError() const;

    QString m_conninfo;
    pg_conn *m_conn = nullptr;
    bool m_throughTemp = false;
};
