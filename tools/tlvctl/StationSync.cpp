#include "StationSync.h"

#include "CentralFeed.h"
#include "CopyRows.h"
#include "ProductTable.h"
#include "SyncMark.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/resource.h>
#endif

std::atomic<bool> StationSync::s_stop { false };

namespace {

constexpr int kPutBytes = 256 * 1024;
constexpr double kMaxBackoff = 30;

} // namespace

StationSync::StationSync(const Options &options)
    : m_options(options)
    , m_connection(QStringLiteral("tlvctl-sync-") + QUuid::createUuid().toString())
{
}

StationSync::~StationSync()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

void StationSync::requestStop()
{
    s_stop = true;
}

void StationSync::log(const QString &text) const
{
    std::fprintf(stderr, "tlvctl sync: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

bool StationSync::pause(double seconds) const
{
    // What is left is worked out once per step: read twice, a late clock made it negative, which
    // msleep took for an unsigned wait of centuries.
    const qint64 total = qint64(seconds * 1000);
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = total; !s_stop && left > 0; left = total - clock.elapsed())
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(100, left)));
    return !s_stop;
}

bool StationSync::openLocal(QString *error)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(m_options.db);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_options.db, m_db.lastError().text());
        return false;
    }
    return true;
}

qint64 StationSync::readMark(QString *error)
{
    const SyncMark::State mark = SyncMark::read(m_options.db);
    if (!mark.exists)
        return 0;
    if (!mark.valid) {
        *error
            = QStringLiteral("%1 is not a mark this program wrote; move it away to send every product again")
                  .arg(SyncMark::pathFor(m_options.db));
        return -1;
    }
    if (!mark.station.isEmpty() && mark.station != m_options.station) {
        *error = QStringLiteral("%1 holds the mark of station \"%2\", not \"%3\"")
                     .arg(SyncMark::pathFor(m_options.db), mark.station, m_options.station);
        return -1;
    }
    // The ids only grow (autoincrement): a mark beyond the largest ever given means another file.
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("select seq from sqlite_sequence where name = 'product_data_new'"))
        && query.next() && query.value(0).toLongLong() < mark.sentUpTo) {
        *error
            = QStringLiteral("%1 says products up to id %2 were sent, but %3 never had more than %4: was the "
                             "database replaced? Move the mark away and send as a new station name")
                  .arg(SyncMark::pathFor(m_options.db))
                  .arg(mark.sentUpTo)
                  .arg(m_options.db)
                  .arg(query.value(0).toLongLong());
        return -1;
    }
    return mark.sentUpTo;
}

StationSync::Outcome StationSync::sendAll(CentralFeed &feed, qint64 *sent, QString *error)
{
    CopyRows rows(m_options.station);
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    const QString select
        = QStringLiteral("select id, uptime, pid, barcode, psize, diameter, appearance, status "
                         "from product_data_new where id > ? order by id limit %1")
              .arg(readRows);
    if (!query.prepare(select)) {
        *error = QStringLiteral("cannot read %1: %2").arg(m_options.db, query.lastError().text());
        return Outcome::LocalFailed;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 nextLine = 5000;
    QByteArray out;
    QVariant values[8];
    *sent = 0;
    while (!s_stop) {
        bool begun = false;
        int inBatch = 0;
        qint64 last = m_mark;
        for (;;) {
            // One short read: the statement ends before the rows go to the server.
            query.bindValue(0, last);
            if (!query.exec()) {
                *error = QStringLiteral("cannot read %1: %2").arg(m_options.db, query.lastError().text());
                feed.abort();
                return Outcome::LocalFailed;
            }
            int read = 0;
            while (query.next()) {
                for (int i = 0; i < 8; ++i)
                    values[i] = query.value(i);
                rows.append(out, values);
                last = values[0].toLongLong();
                ++read;
            }
            query.finish();
            if (read > 0 && !begun) {
                if (!feed.begin(m_options.station, m_mark, error))
                    return Outcome::ServerFailed;
                begun = true;
            }
            if (!out.isEmpty() && !feed.put(out, error)) {
                feed.abort();
                return Outcome::ServerFailed;
            }
            out.clear();
            inBatch += read;
            if (read < readRows || inBatch >= batchRows || s_stop)
                break;
        }
        if (!begun)
            return Outcome::Done;
        if (!feed.commit(error))
            return Outcome::ServerFailed;
        // Only now: the server holds every row up to `last`.
        m_mark = last;
        *sent += inBatch;
        QString markError;
        if (!SyncMark::write(m_options.db, m_mark, m_options.station, &markError)) {
            *error = markError;
            return Outcome::LocalFailed;
        }
        if (clock.elapsed() >= nextLine) {
            nextLine = clock.elapsed() + 5000;
            log(QStringLiteral("%1 products sent so far (up to id %2, %3 s)")
                    .arg(*sent)
                    .arg(m_mark)
                    .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
        }
        if (inBatch < batchRows)
            return Outcome::Done;
    }
    return Outcome::Done;
}

void StationSync::giveWay()
{
#ifdef Q_OS_LINUX
    // The feed is never urgent and the station's own work is: the panel's insert at a cycle end
    // must not wait for a core while a backlog goes out.
    sched_param param {};
    ::sched_setscheduler(0, SCHED_BATCH, &param);
    ::setpriority(PRIO_PROCESS, 0, 10);
#endif
}

int StationSync::run()
{
    giveWay();
    QString error;
    if (!openLocal(&error) || (m_mark = readMark(&error)) < 0) {
        log(error);
        return 1;
    }
    const bool follow = m_options.followSeconds >= 0;
    CentralFeed feed(m_options.conninfo);
    double backoff = 1;
    bool failing = false;
    while (!s_stop) {
        Outcome outcome = Outcome::ServerFailed;
        qint64 sent = 0;
        if (feed.isConnected() || feed.connect(&error))
            outcome = sendAll(feed, &sent, &error);
        if (outcome == Outcome::Done) {
            if (failing)
                log(QStringLiteral("the server answers again"));
            failing = false;
            backoff = 1;
            if (sent > 0 || !follow)
                log(QStringLiteral("%1 products sent as station \"%2\" (sent up to id %3)")
                        .arg(sent)
                        .arg(m_options.station)
                        .arg(m_mark));
            if (!follow || !pause(m_options.followSeconds))
                break;
            continue;
        }
        if (outcome == Outcome::ServerFailed) {
            // The next try starts on a new connection, never on one a failed batch left mid-COPY
            // or that libpq has not yet seen the server close.
            feed.disconnect();
            if (!follow) {
                log(QStringLiteral("the server failed: %1").arg(error));
                return 1;
            }
            log(QStringLiteral("the server failed: %1; trying again in %2 s").arg(error).arg(backoff));
        } else {
            if (!follow) {
                log(error);
                return 1;
            }
            log(QStringLiteral("%1; trying again in %2 s").arg(error).arg(backoff));
        }
        failing = true;
        if (!pause(backoff))
            break;
        backoff = std::min(backoff * 2, kMaxBackoff);
    }
    return 0;
}
