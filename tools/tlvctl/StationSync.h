#pragma once

#include <QSqlDatabase>
#include <QString>

#include <atomic>

class CentralFeed;

// `tlvctl sync`: sends a station's products above its mark to the plant's table, in batches of
// one server transaction each, and moves the mark (SyncMark, beside the database) once the
// server has confirmed a batch. The station's file is read through a read-only connection in
// short statements of a few hundred rows, so the panel's inserts never wait on it. With a follow
// interval it keeps looking for new products and waits out a server that is down, trying again
// after 1, 2, 4 ... up to 30 s.
class StationSync
{
public:
    struct Options
    {
        QString db;
        QString station;
        QString conninfo;
        double followSeconds = -1;
    };

    static constexpr int readRows = 500; // per SQLite statement
    static constexpr int batchRows = 20000; // per server transaction

    explicit StationSync(const Options &options);
    ~StationSync();

    // 0 when done (or stopped), 1 on a failure; what happens goes to stderr.
    int run();
    // Asks a running sync to stop after the batch under way (safe from a signal handler).
    static void requestStop();

private:
    enum class Outcome { Done, ServerFailed, LocalFailed };
    bool openLocal(QString *error);
    // The mark, checked against the file and the station; -1 with `error` when they disagree.
    qint64 readMark(QString *error);
    // Sends everything above the mark; `sent` counts the products that went.
    Outcome sendAll(CentralFeed &feed, qint64 *sent, QString *error);
    bool pause(double seconds) const;
    // Lowers this process's CPU priority below the panel's.
    static void giveWay();
    void log(const QString &text) const;

    Options m_options;
    QString m_connection;
    QSqlDatabase m_db;
    qint64 m_mark = 0;
    static std::atomic<bool> s_stop;
};
