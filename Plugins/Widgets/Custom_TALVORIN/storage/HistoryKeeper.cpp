#include "HistoryKeeper.h"

#include "HistoryIndex.h"
#include "SyncMark.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>

namespace {

// Longer than the panel's insert ever holds the file; a longer holder (a purge) is simply
// waited out on the next turn.
const char *const kBusyTimeout = "QSQLITE_BUSY_TIMEOUT=200";
// The barcode index takes rows all over its pages; a cache of its own spares re-reading them.
const char *const kCacheSql = "PRAGMA cache_size = -32768";
// No sync while a slice holds the write lock. A power cut can cost only our last transactions,
// whole (entries and mark together), which are simply made again; the panel's own commits sync
// the log, and ours before them with it.
const char *const kSyncSql = "PRAGMA synchronous = NORMAL";
// Folds our pages back into the file at once, off the write lock, so that the log's size never
// makes a panel's insert do it.
const char *const kCheckpointSql = "PRAGMA wal_checkpoint(PASSIVE)";
// Slices this large are checkpointed at once; new products at the latest after this long (the
// panel's store leaves folding the log to the keeper while it runs).
const int kCheckpointRows = 100;
const qint64 kFoldEveryMs = 30000;
const int kIdleMs = 1000;
const qint64 kRetentionEveryMs = 24LL * 3600 * 1000;
const qint64 kDiskCheckEveryMs = 3600LL * 1000;
const qint64 kMinFreeBytes = 1LL << 30;
const int kMinFreePercent = 5;

QString seconds(const QElapsedTimer &clock)
{
    return QString::number(double(clock.elapsed()) / 1000.0, 'f', 1);
}

QString megabytes(qint64 bytes)
{
    return QString::number(bytes >> 20) + QLatin1String(" MB");
}

// Another writer holds the file: tried again on the next turn, not worth a line.
bool busy(const QString &error)
{
    return error.contains(QLatin1String("database is locked"))
        || error.contains(QLatin1String("database table is locked"));
}

} // namespace

HistoryKeeper *HistoryKeeper::start(const QString &dbPath, int keepDays, QObject *owner)
{
    if (!owner) {
        qWarning() << "History keeper for" << dbPath << "not started: it needs an owner";
        return nullptr;
    }
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("HistoryKeeper"));
    auto *keeper = new HistoryKeeper(dbPath, keepDays);
    keeper->moveToThread(thread);
    connect(thread, &QThread::started, keeper, &HistoryKeeper::run);
    connect(thread, &QThread::finished, keeper, &QObject::deleteLater);
    connect(owner, &QObject::destroyed, thread, [thread] {
        thread->quit();
        thread->wait(); // the keeper is deleted on its thread as the thread finishes
        delete thread;
    });
    thread->start(QThread::LowPriority);
    return keeper;
}

QString HistoryKeeper::cutoffText(int keepDays, const QDateTime &now)
{
    return now.addDays(-keepDays).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

HistoryKeeper::HistoryKeeper(const QString &dbPath, int keepDays)
    : m_dbPath(dbPath)
    , m_keepDays(keepDays)
{
}

HistoryKeeper::~HistoryKeeper()
{
    if (m_connection.isEmpty())
        return;
    close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

void HistoryKeeper::run()
{
    m_connection = QStringLiteral("tlv_history_") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(m_dbPath);
    m_db.setConnectOptions(QLatin1String(kBusyTimeout));
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { m_timer->start(step()); });
    m_clock.start();
    m_timer->start(0);
}

bool HistoryKeeper::ensureOpen()
{
    const bool exists = QFileInfo::exists(m_dbPath);
    if (m_db.isOpen()) {
        if (exists)
            return true;
        close(); // the file was deleted: let go of it; the panel makes a new one
    }
    if (!exists)
        return false;
    if (!m_db.open()) {
        report(QStringLiteral("cannot open"), m_db.lastError().text());
        return false;
    }
    QSqlQuery(m_db).exec(QLatin1String(kCacheSql));
    QSqlQuery(m_db).exec(QLatin1String(kSyncSql));
    QString error;
    if (!HistoryIndex::createTables(m_db, &error)) {
        if (!busy(error))
            report(QStringLiteral("cannot create its tables in"), error);
        close();
        return false;
    }
    return true;
}

void HistoryKeeper::close()
{
    m_db.close();
    m_started = false;
    m_building = false;
    m_retiring = false;
}

void HistoryKeeper::report(const QString &what, const QString &error)
{
    if (error == m_lastError)
        return;
    m_lastError = error;
    qWarning().noquote() << "History index:" << what << m_dbPath << "-" << error
                         << "- tried again every second";
}

int HistoryKeeper::step()
{
    if (m_diskCheckDue <= m_clock.elapsed()) {
        checkDiskSpace();
        m_diskCheckDue = m_clock.elapsed() + kDiskCheckEveryMs;
    }
    if (!ensureOpen())
        return kIdleMs;
    if (m_retiring)
        return retireStep();
    const int next = indexStep();
    if (m_building || !m_started)
        return next; // retention reads the index, so it waits for the first catch-up
    if (m_keepDays >= 0 && m_retentionDue <= m_clock.elapsed()) {
        m_retentionDue = m_clock.elapsed() + kRetentionEveryMs;
        m_cutoff = cutoffText(m_keepDays, QDateTime::currentDateTime());
        m_retired = 0;
        m_retireClock.start();
        m_retiring = true;
        return retireStep();
    }
    return kIdleMs;
}

int HistoryKeeper::indexStep()
{
    if (!m_started && !m_building) {
        const qint64 mark = HistoryIndex::indexedUpTo(m_db);
        QSqlQuery query(m_db);
        if (mark >= 0 && query.exec(QStringLiteral("select coalesce(max(id), 0) from product_data_new"))
            && query.next() && query.value(0).toLongLong() > mark) {
            // Rows deleted since make it fewer; counting them would read the whole table.
            qInfo().noquote() << "History index: building for up to" << query.value(0).toLongLong() - mark
                              << "products in" << m_dbPath;
            m_building = true;
            m_built = 0;
            m_buildClock.start();
        }
    }
    QString error;
    const int taken = HistoryIndex::indexSlice(m_db, indexRows, &error);
    if (taken < 0) {
        if (!busy(error))
            report(QStringLiteral("cannot index"), error);
        return m_building ? pauseMs : kIdleMs;
    }
    if (!m_lastError.isEmpty()) {
        qInfo().noquote() << "History index: indexing" << m_dbPath << "again";
        m_lastError.clear();
    }
    m_built += taken;
    m_unfolded += taken;
    if (taken >= kCheckpointRows || (m_unfolded > 0 && m_clock.elapsed() >= m_foldDue))
        foldLog();
    if (taken == indexRows) {
        if (!m_building) {
            qInfo().noquote() << "History index: building for a backlog of new products in" << m_dbPath;
            m_building = true;
            m_built = taken;
            m_buildClock.start();
        }
        return pauseMs;
    }
    if (m_building)
        qInfo().noquote() << "History index: built," << m_built << "products in" << seconds(m_buildClock)
                          << "s -" << m_dbPath;
    if (m_building || !m_started)
        emit built(HistoryIndex::indexedUpTo(m_db));
    m_building = false;
    m_started = true;
    return kIdleMs;
}

void HistoryKeeper::foldLog()
{
    m_foldDue = m_clock.elapsed() + kFoldEveryMs;
    QSqlQuery query(m_db);
    // One row: blocked or not, frames in the log, frames in the file; a reader on an older
    // snapshot keeps the newest ones in the log, so those are tried again when due.
    if (query.exec(QLatin1String(kCheckpointSql)) && query.next() && query.value(0).toInt() == 0
        && query.value(1).toInt() == query.value(2).toInt())
        m_unfolded = 0;
}

int HistoryKeeper::retireStep()
{
    int products = 0;
    QString error;
    // Products the central feed has not sent yet stay, however old; its mark only grows, so it is
    // read again for every slice.
    const int taken = HistoryIndex::retireSlice(
        m_db, m_cutoff, retireRows, &products, &error, SyncMark::retentionLimit(m_dbPath));
    if (taken < 0 && busy(error))
        return pauseMs;
    m_retired += products;
    if (taken >= kCheckpointRows)
        foldLog();
    if (taken == retireRows)
        return pauseMs;
    m_retiring = false;
    if (taken < 0) {
        qWarning().noquote() << "History retention: stopped after deleting" << m_retired
                             << "products stamped before" << m_cutoff << "from" << m_dbPath << "in"
                             << seconds(m_retireClock) << "s -" << error << "- tried again in an hour";
        m_retentionDue = m_clock.elapsed() + kDiskCheckEveryMs;
        return kIdleMs;
    }
    qInfo().noquote() << "History retention: deleted" << m_retired << "products stamped before" << m_cutoff
                      << "(keeping" << m_keepDays << "days) from" << m_dbPath << "in"
                      << seconds(m_retireClock) << "s";
    emit retired(m_retired);
    return pauseMs;
}

void HistoryKeeper::checkDiskSpace() const
{
    const QString folder = QFileInfo(m_dbPath).absolutePath();
    QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady())
        return;
    const qint64 total = volume.bytesTotal();
    const qint64 free = volume.bytesAvailable();
    const qint64 threshold = std::max(kMinFreeBytes, total / 100 * kMinFreePercent);
    if (free >= threshold)
        return;
    qCritical().noquote() << "Low disk space for the product database in" << folder << "-" << megabytes(free)
                          << "free of" << megabytes(total) << "- below" << megabytes(threshold)
                          << "(the larger of 1 GB and 5 %); products may soon not be stored";
}
