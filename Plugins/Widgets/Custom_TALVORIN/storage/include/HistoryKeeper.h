#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

class QTimer;

// Keeps a product file's history index up to date and its age within KeepDays, on a thread and a
// connection of its own: builds the index in short slices, then indexes new rows every second;
// deletes expired products (with their index entries) once the index has caught up after start,
// then daily; warns at start and hourly when the file's volume runs short of space. Every write is a brief
// transaction with a pause after it, so the panel's insert on the GUI thread gets the file within a few ms.
class HistoryKeeper : public QObject
{
    Q_OBJECT

public:
    // Rows per index slice: the write lock is held ~3.5 ms (at most ~12 ms) on a year file of
    // 3,000,000 products; a slice's cost grows with its rows, ~0.014 ms each.
    static constexpr int indexRows = 250;
    // Products per retention slice: ~9 ms of write lock (at most ~23 ms) on the same file.
    static constexpr int retireRows = 250;
    // Pause after a slice: longer than the steps between the panel's lock attempts (SQLite's
    // busy handler retries after 1, 2, 5, 10 and 15 ms), so its insert gets in between.
    static constexpr int pauseMs = 20;

    // Starts a keeper of the file at `dbPath` on a new thread. `keepDays` < 0: no retention. The
    // keeper and its thread stop (after the slice under way) when `owner` is destroyed; owner
    // must not be null. The keeper lives on its thread: connect to its signals, call nothing.
    static HistoryKeeper *start(const QString &dbPath, int keepDays, QObject *owner);

    // Rows stamped at or before this second are expired: now minus `keepDays` days, with
    // milliseconds, compared as text with the stamps.
    static QString cutoffText(int keepDays, const QDateTime &now);

    ~HistoryKeeper() override;

signals:
    // The index has caught up with the file: once after start, then after any later backlog.
    void built(qint64 indexedUpTo);
    // A retention run ended, having deleted `products`.
    void retired(qint64 products);

private:
    HistoryKeeper(const QString &dbPath, int keepDays);
    void run();
    bool ensureOpen();
    void close();
    // One piece of work; the pause before the next one.
    int step();
    int indexStep();
    int retireStep();
    // Folds the write-ahead log back into the file (passive: never waits for a reader).
    void foldLog();
    void checkDiskSpace() const;
    void report(const QString &what, const QString &error);

    QString m_dbPath;
    QString m_connection;
    QSqlDatabase m_db;
    int m_keepDays;
    QTimer *m_timer = nullptr;
    bool m_tablesReady = false;
    QString m_lastError; // the failure last logged, so that a lasting one is logged once

    bool m_started = false; // the first catch-up is done
    bool m_building = false;
    qint64 m_built = 0;
    QElapsedTimer m_buildClock;

    bool m_retiring = false;
    QString m_cutoff;
    qint64 m_retired = 0;
    QElapsedTimer m_retireClock;
    QElapsedTimer m_clock; // since run()
    qint64 m_retentionDue = 0; // on m_clock
    qint64 m_diskCheckDue = 0;
    qint64 m_foldDue = 0; // on m_clock
    qint64 m_unfolded = 0; // products indexed since the log was last folded back whole
};
