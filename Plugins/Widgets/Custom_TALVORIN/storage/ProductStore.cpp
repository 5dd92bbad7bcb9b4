#include "ProductStore.h"

#include "ProductTable.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <cstddef>

namespace {

// SQLite result codes (primary) of the file or the connection, which a later attempt may not see
// again. Any other (a constraint, a trigger's raise, a column the table lacks, a damaged file)
// refuses the same product the same way every time.
enum : int {
    Perm = 3,
    Abort = 4,
    Busy = 5,
    Locked = 6,
    NoMem = 7,
    ReadOnly = 8,
    Interrupt = 9,
    IoErr = 10,
    Full = 13,
    CantOpen = 14,
    Protocol = 15,
    Schema = 17
};

int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// Short enough that a product never holds the GUI thread long behind another writer's lock;
// what cannot be stored now waits in the queue instead. A connect option, so it survives any
// reopen of the connection.
const char *const kBusyTimeout = "QSQLITE_BUSY_TIMEOUT=100";
const int kStartUpWaitMs = 2000;
const int kRetryMs = 1000;
// A flush of waiting products yields to the event loop after this long.
const int kFlushSliceMs = 100;
// How long the last store waits for readers (a report, a backup) to let go of the log.
const int kShutdownFoldMs = 2000;

// Appends `line` and a line end to the file at `path`; on failure the file is cut back to where it
// was, so every line in it stays whole.
bool appendLine(const QString &path, QByteArray line, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        why = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    char last = '\n';
    // A line cut short by a killed process must not swallow this one.
    if (size > 0 && file.seek(size - 1) && file.getChar(&last) && last != '\n')
        line.prepend('\n');
    line.append('\n');
    if (file.seek(size) && file.write(line) == line.size() && file.flush())
        return true;
    why = file.errorString();
    file.resize(size);
    return false;
}

} // namespace

QString ProductStore::Failure::describe() const
{
    switch (kind) {
    case Kind::Open:
        return QStringLiteral("FilterGroup DB Open failed. ") + text;
    case Kind::TableList:
        return QStringLiteral("cannot read the table list: ") + text;
    case Kind::CreateTable:
        return QStringLiteral("Create product_data_new table failed: ") + text;
    case Kind::Write:
        return text;
    case Kind::None:
        break;
    }
    return QString();
}

ProductStore::ProductStore(QObject *parent)
    : QObject(parent)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        if (flush() || m_failure.kind == Failure::Kind::None || m_failure == m_loggedFailure)
            return;
        m_loggedFailure = m_failure;
        qCritical() << pending() << "products still waiting for" << filePath() << m_failure.describe();
    });
    m_checkpointTimer.setSingleShot(true);
    m_checkpointTimer.setInterval(defaultCheckpointMs);
    connect(&m_checkpointTimer, &QTimer::timeout, this, [this] { checkpoint("PASSIVE"); });
}

ProductStore::~ProductStore()
{
    // Once more, for as long as it makes progress.
    for (int before = -1; !m_queue.empty() && pending() != before;) {
        before = pending();
        flush();
    }
    for (const StoredRow &row : m_queue)
        giveUp(row, QStringLiteral("never stored: ") + m_failure.describe());
    // The connection outlives the store (it is the process's), so the log would keep the last
    // products out of the file until the process ends. A store that never opened leaves the
    // connection alone: a plugin's prototype is destroyed after Qt's SQL module has gone.
    if (!m_attached || !m_db.isOpen())
        return;
    QElapsedTimer waited;
    waited.start();
    while (!checkpoint("TRUNCATE")) {
        if (waited.elapsed() >= kShutdownFoldMs) {
            qWarning() << "Write-ahead log of" << filePath()
                       << "not folded back: a reader still holds it; its products are in"
                       << filePath() + QLatin1String("-wal") << "until the last connection closes";
            break;
        }
        QThread::msleep(50);
    }
}

void ProductStore::setLogFoldedElsewhere(bool elsewhere)
{
    if (elsewhere == m_foldElsewhere)
        return;
    m_foldElsewhere = elsewhere;
    if (elsewhere) {
        m_checkpointTimer.stop();
        m_sinceCheckpoint = 0;
    }
    if (m_attached && m_db.isOpen())
        prepareConnection();
}

void ProductStore::foldLogSoon()
{
    if (m_foldElsewhere)
        return;
    if (m_sinceCheckpoint >= checkpointProducts)
        checkpoint("PASSIVE");
    else if (m_sinceCheckpoint > 0 && !m_checkpointTimer.isActive())
        m_checkpointTimer.start();
}

bool ProductStore::checkpoint(const char *mode)
{
    m_sinceCheckpoint = 0;
    m_checkpointTimer.stop();
    if (!m_db.isOpen())
        return false;
    QSqlQuery query(m_db);
    // One row: blocked (1) or not, frames in the log, frames now in the file; -1 without a log.
    const bool ran
        = query.exec(QStringLiteral("PRAGMA wal_checkpoint(%1)").arg(QLatin1String(mode))) && query.next();
    const bool complete
        = ran && query.value(0).toInt() == 0 && query.value(1).toInt() == query.value(2).toInt();
    query.finish();
    // A reader on an older snapshot keeps the newest frames in the log: once more later.
    if (!complete)
        m_checkpointTimer.start();
    return complete;
}

void ProductStore::giveUp(const StoredRow &row, const QString &reason) const
{
    QByteArray json;
    QString why;
    if (setAside(row, reason, json, why))
        qCritical() << "pid:" << row.pid << " barID:" << row.barcode << " Error: Unable to insert data"
                    << "- measured at" << row.uptime << reason << "in" << filePath() << "- set aside in"
                    << unsavedPath();
    else
        (qCritical() << "pid:" << row.pid << " barID:" << row.barcode << " Error: Unable to insert data"
                     << "- measured at" << row.uptime << reason << "in" << filePath()
                     << "and could not be set aside in" << unsavedPath() << why
                     << "- the product as it would be stored:")
                .noquote()
            << json;
}

bool ProductStore::open(const QString &path)
{
    const QString name = QLatin1String(connectionName);
    m_attached = true;
    if (QSqlDatabase::connectionNames().contains(name)) {
        m_db = QSqlDatabase::database(name);
    } else {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(QLatin1String(kBusyTimeout));
    }
    // Opening an open connection again would close it first and kill the statements of every
    // other panel on it.
    if (!m_db.isOpen() && !m_db.open()) {
        qDebug() << "Error: Unable to open database" << m_db.lastError().text() << filePath();
        return false;
    }
    prepareConnection();
    checkTable(true);
    return true;
}

void ProductStore::prepareConnection()
{
    QSqlQuery query(m_db);
    // In WAL mode a report reading on its own connection never blocks the insert at a cycle end.
    const bool wal = query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && query.next()
        && query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    if (!wal && !m_walPending)
        qInfo() << "Write-ahead journal not enabled for" << filePath() << query.lastError().text()
                << "- tried again before the next insert";
    else if (wal && m_walPending)
        qInfo() << "Write-ahead journal enabled for" << filePath();
    m_walPending = !wal;
    // SQLite's default is 1000 pages.
    query.exec(QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(m_foldElsewhere ? 0 : 1000));
}

QString ProductStore::unsavedPath() const
{
    const QFileInfo db(filePath());
    return db.dir().filePath(db.completeBaseName() + QLatin1String(".unsaved.jsonl"));
}

bool ProductStore::transient(const QSqlError &error)
{
    switch (sqliteCode(error)) {
    case 0: // raised by the driver itself, about its connection rather than the product
    case Perm:
    case Abort:
    case Busy:
    case Locked:
    case NoMem:
    case ReadOnly:
    case Interrupt:
    case IoErr:
    case Full:
    case CantOpen:
    case Protocol:
    case Schema:
        return true;
    default:
        return false;
    }
}

ProductStore::Table ProductStore::checkTable(bool startUp)
{
    QSqlQuery query(m_db);
    bool exists = false;
    // A backup or VACUUM holding the file makes the list unreadable, which is not "no table".
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (query.exec(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                      "name='product_data_new'"))
            && query.next()) {
            exists = query.value(0).toInt() > 0;
            break;
        }
        const int code = sqliteCode(query.lastError());
        if ((code != Busy && code != Locked) || !startUp || waited.elapsed() >= kStartUpWaitMs)
            break;
        QThread::msleep(50);
    }
    const QSqlError listError = query.lastError();
    query.finish();
    if (listError.isValid() && transient(listError)) {
        m_failure = { Failure::Kind::TableList, listError.text() };
        qCritical() << "Cannot read the table list of" << filePath() << listError.text()
                    << "- checked again before the next insert";
        return Table::Unknown;
    }
    if (exists) {
        if (startUp)
            reportForeignColumns();
        m_tableReady = true;
        return Table::Ready;
    }

    qInfo() << "Create product_data_new table";
    if (query.exec(QLatin1String(ProductTable::createSql))) {
        m_tableReady = true;
        return Table::Ready;
    }
    const QSqlError error = query.lastError();
    m_failure = { Failure::Kind::CreateTable, error.text() };
    qCritical() << "Create product_data_new table failed in" << filePath() << error.text();
    if (transient(error))
        return Table::Unknown;
    if (startUp)
        qFatal("Create product_data_new table failed: %s.", error.text().toUtf8().constData());
    return Table::Unusable;
}

void ProductStore::reportForeignColumns()
{
    const ProductTable::ColumnCheck check = ProductTable::checkColumns(m_db);
    if (check.read && !check.fits())
        qCritical() << "product_data_new in" << filePath()
                    << "is not the table the panel writes: missing columns" << check.missing
                    << "- not null columns without a default the panel does not fill" << check.unfillable
                    << "- products will be set aside in" << unsavedPath();
}

bool ProductStore::ensureOpen()
{
    const QString path = filePath();
    if (m_db.isOpen() && !QFileInfo::exists(path)) {
        qInfo() << "Database file" << path << "vanished; opening it again and creating product_data_new";
        m_insert = QSqlQuery();
        m_insertReady = false;
        m_db.close();
        m_tableReady = false;
    }
    if (!m_db.isOpen()) {
        if (!m_db.open()) {
            m_failure = { Failure::Kind::Open, m_db.lastError().text() };
            return false;
        }
        prepareConnection();
    } else if (m_walPending) {
        prepareConnection();
    }
    return m_tableReady || checkTable(false) == Table::Ready;
}

bool ProductStore::insert(const StoredRow &row, QSqlError &error)
{
    const bool kept = m_insertReady;
    if (!kept) {
        m_insert = QSqlQuery(m_db);
        if (!m_insert.prepare(QLatin1String(ProductTable::insertSql))) {
            error = m_insert.lastError();
            return false;
        }
        m_insertReady = true;
    }
    m_insert.bindValue(0, row.uptime);
    m_insert.bindValue(1, row.pid);
    m_insert.bindValue(2, row.barcode);
    m_insert.bindValue(3, row.psize);
    m_insert.bindValue(4, row.diameter);
    m_insert.bindValue(5, row.appearance);
    m_insert.bindValue(6, row.status);
    if (m_insert.exec()) {
        m_insert.finish(); // resets the statement; it stays prepared for the next product
        return true;
    }
    error = m_insert.lastError();
    m_insertReady = false;
    // Any reopen of the shared connection (another panel, a vanished file) finalizes a kept
    // statement: a failure that is not a lock is tried once more on a fresh one.
    const int code = sqliteCode(error);
    return kept && code != Busy && code != Locked && insert(row, error);
}

bool ProductStore::setAside(const StoredRow &row, const QString &reason, QByteArray &json, QString &why) const
{
    // The stored columns as the row would hold them, for an integrator to insert later.
    const QJsonObject line { { QStringLiteral("uptime"), row.uptime }, { QStringLiteral("pid"), row.pid },
        { QStringLiteral("barcode"), row.barcode },
        { QStringLiteral("psize"), row.psize.isNull() ? QJsonValue() : QJsonValue(row.psize) },
        { QStringLiteral("diameter"), row.diameter }, { QStringLiteral("appearance"), row.appearance },
        { QStringLiteral("status"), row.status }, { QStringLiteral("error"), reason } };
    json = QJsonDocument(line).toJson(QJsonDocument::Compact);
    return appendLine(unsavedPath(), json, why);
}

bool ProductStore::flush()
{
    if (m_queue.empty())
        return true;
    m_failure = Failure();
    if (!ensureOpen()) {
        m_retryTimer.start(kRetryMs);
        return false;
    }
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.empty() && m_failure.kind == Failure::Kind::None) {
        if (slice.elapsed() >= kFlushSliceMs) {
            m_retryTimer.start(0); // more to store: after the event loop had its turn
            return false;
        }
        // Several waiting products go in as one transaction, up to the first that fails.
        const bool batch = m_queue.size() > 1;
        if (batch && !m_db.transaction()) {
            m_failure = { Failure::Kind::Write, m_db.lastError().text() };
            break;
        }
        size_t done = 0;
        QSqlError error;
        bool failed = false;
        while (done < m_queue.size()) {
            failed = !insert(m_queue[done], error);
            if (failed)
                break;
            ++done;
            if (batch && slice.elapsed() >= kFlushSliceMs)
                break;
        }
        size_t failedAt = done;
        QSqlError commitError;
        if (batch) {
            if (done == 0) {
                m_db.rollback();
            } else if (!m_db.commit()) {
                commitError = m_db.lastError();
                m_db.rollback();
                done = 0;
            }
        }
        failedAt -= done;
        m_sinceCheckpoint += int(done);
        for (; done > 0; --done) {
            const StoredRow &row = m_queue.front();
            qDebug() << "pid:" << row.pid << " barID:" << row.barcode << "Data inserted successfully.";
            m_queue.pop_front();
        }
        foldLogSoon();
        if (failed && !transient(error)) {
            // Refused for good. The products before it, should the refusal have cost them their
            // transaction, go in on the next round, with the ones after it.
            const StoredRow row = m_queue[failedAt];
            m_queue.erase(m_queue.begin() + std::ptrdiff_t(failedAt));
            m_newestSetAside = m_newestSetAside || failedAt == m_queue.size();
            QByteArray json;
            QString why;
            if (setAside(row, error.text(), json, why))
                qCritical() << "pid:" << row.pid << " barID:" << row.barcode
                            << " Error: Unable to insert data" << error.text() << "- refused by" << filePath()
                            << "- set aside in" << unsavedPath();
            else // then this line is all that is left of it
                (qCritical() << "pid:" << row.pid << " barID:" << row.barcode
                             << " Error: Unable to insert data" << error.text() << "- refused by"
                             << filePath() << "and could not be set aside in" << unsavedPath() << why
                             << "- the product as it would be stored:")
                        .noquote()
                    << json;
        } else if (failed || commitError.isValid()) {
            m_failure = { Failure::Kind::Write, (failed ? error : commitError).text() };
        }
    }
    if (m_failure.kind != Failure::Kind::None) {
        m_retryTimer.start(kRetryMs);
        return false;
    }
    m_retryTimer.stop();
    m_loggedFailure = Failure();
    return true;
}

bool ProductStore::store(const StoredRow &row)
{
    if (pending() >= m_queueLimit) {
        giveUp(row,
            QStringLiteral("queue of unsaved products full at %1; %2")
                .arg(m_queueLimit)
                .arg(m_failure.describe()));
        return false;
    }
    m_queue.push_back(row);
    m_newestSetAside = false;
    if (flush())
        return !m_newestSetAside;
    if (m_newestSetAside || m_failure.kind == Failure::Kind::None)
        return false; // logged when set aside, or behind others still being stored
    // Its own failure, or the one of the products it waits behind, which keeps it out as well.
    if (m_failure.kind == Failure::Kind::Open)
        qCritical() << "FilterGroup DB Open failed."
                    << "pid:" << row.pid << "database:" << filePath() << m_failure.text;
    else
        qCritical() << "pid:" << row.pid << " barID:" << row.barcode << " Error: Unable to insert data"
                    << m_failure.describe() << "- database" << filePath()
                    << "- waiting to be stored:" << pending();
    m_loggedFailure = m_failure;
    return false;
}
