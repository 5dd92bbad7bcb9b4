#include "DatabaseBackup.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QThread>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <filesystem>
#include <system_error>

#ifdef TLV_SQLITE_NATIVE
#include <sqlite3.h>
#endif

namespace {

const char *const kBusyTimeout = "QSQLITE_BUSY_TIMEOUT=100";

// A connection of the calling thread's own, closed and removed with this object.
class Connection
{
public:
    Connection(const QString &databaseName, const QString &options)
        : m_name(QStringLiteral("tlv_backup_") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setConnectOptions(options);
        m_db.setDatabaseName(databaseName);
        m_db.open();
    }
    ~Connection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    QSqlDatabase &db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

// The first field of `sql`'s first row; empty with `why` set when it fails.
QString value(QSqlDatabase &db, const QString &sql, QString &why)
{
    QSqlQuery query(db);
    if (query.exec(sql) && query.next())
        return query.value(0).toString();
    why = query.lastError().text();
    return QString();
}

#ifdef TLV_SQLITE_NATIVE
// Pages per step (4 MB of 4 KB pages) and the pause after each, in which a writer on a file
// without a write-ahead log gets its turn.
const int kStepPages = 1024;
const int kPauseMs = 5;
// A source locked this long without any progress of the copy is given up.
const int kGiveUpMs = 30000;

// The driver's own handle where it runs on the libsqlite3 this library links.
sqlite3 *nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// SQLite's online backup, a few pages at a time. When another connection changes the source
// between two steps the copy starts over; each restart doubles the step, so a busy file is
// copied in the end.
bool stepCopy(sqlite3 *from, sqlite3 *to, QString &why)
{
    sqlite3_backup *backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup) {
        why = QString::fromUtf8(sqlite3_errmsg(to));
        return false;
    }
    int pages = kStepPages;
    int left = -1;
    QElapsedTimer stuck;
    stuck.start();
    int rc = SQLITE_OK;
    for (;;) {
        rc = sqlite3_backup_step(backup, pages);
        if (rc == SQLITE_OK) {
            const int now = sqlite3_backup_remaining(backup);
            if (left >= 0 && now >= left)
                pages = pages < (1 << 24) ? pages * 2 : -1;
            else
                stuck.restart();
            left = now;
        } else if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || stuck.elapsed() >= kGiveUpMs) {
            break;
        }
        QThread::msleep(kPauseMs);
    }
    const int finished = sqlite3_backup_finish(backup);
    if (rc == SQLITE_DONE && finished == SQLITE_OK)
        return true;
    why = QString::fromUtf8(finished != SQLITE_OK ? sqlite3_errmsg(to) : sqlite3_errstr(rc));
    return false;
}
#endif

// Writes the source's snapshot into the empty file `part`.
bool copyInto(Connection &source, bool wal, const QString &part, QString &why)
{
#ifdef TLV_SQLITE_NATIVE
    if (sqlite3 *from = nativeHandle(source.db())) {
        Connection target(part, QLatin1String(kBusyTimeout));
        sqlite3 *to = target.db().isOpen() ? nativeHandle(target.db()) : nullptr;
        if (!to) {
            why = target.db().lastError().text();
            return false;
        }
        // With a write-ahead log one read transaction keeps the snapshot for every step, and
        // writers never wait for it; without one each step takes its own short read lock.
        const bool held = wal && source.db().transaction()
            && !value(source.db(), QStringLiteral("select count(*) from sqlite_master"), why).isEmpty();
        const bool copied = stepCopy(from, to, why);
        if (held)
            source.db().rollback();
        return copied;
    }
#else
    Q_UNUSED(wal);
#endif
    // One statement, one snapshot. Without a write-ahead log it holds writers off while it runs.
    QSqlQuery query(source.db());
    if (query.prepare(QStringLiteral("VACUUM INTO ?"))) {
        query.addBindValue(part);
        if (query.exec())
            return true;
    }
    why = query.lastError().text();
    return false;
}

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

bool copyFile(const QString &source, const QString &target, QString &why)
{
    const QFileInfo original(source);
    const QFileInfo to(target);
    if (!original.isFile()) {
        why = QStringLiteral("%1 is no database file").arg(QDir::toNativeSeparators(source));
        return false;
    }
    if (to.exists() && original.canonicalFilePath() == to.canonicalFilePath()) {
        why = QStringLiteral("the copy would replace %1 itself").arg(QDir::toNativeSeparators(source));
        return false;
    }
    if (to.isDir() || !QDir().mkpath(to.absolutePath())) {
        why = QStringLiteral("%1 cannot be written: %2")
                  .arg(QDir::toNativeSeparators(target),
                      to.isDir() ? QStringLiteral("it is a folder") : QStringLiteral("no folder for it"));
        return false;
    }
    QTemporaryFile part(to.absoluteFilePath() + QStringLiteral(".XXXXXX.part"));
    if (!part.open()) {
        why = QStringLiteral("cannot write %1: %2")
                  .arg(QDir::toNativeSeparators(part.fileTemplate()), part.errorString());
        return false;
    }
    part.close();
    part.setPermissions(to.exists()
            ? to.permissions()
            : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        // Opened as it is, never created: a missing source stays missing.
        Connection from(QUrl::fromLocalFile(original.absoluteFilePath()).toString(QUrl::FullyEncoded)
                + QStringLiteral("?mode=rw"),
            QStringLiteral("QSQLITE_OPEN_URI;") + QLatin1String(kBusyTimeout));
        QString mode;
        if (from.db().isOpen())
            mode = value(from.db(), QStringLiteral("PRAGMA journal_mode"), why);
        else
            why = from.db().lastError().text();
        if (mode.isEmpty()
            || !copyInto(
                from, mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0, part.fileName(), why)) {
            why = QStringLiteral("cannot copy %1: %2").arg(QDir::toNativeSeparators(source), why);
            QFile::remove(part.fileName() + QStringLiteral("-journal"));
            return false;
        }
    }
    {
        // A copy of a write-ahead file would start a log of its own when opened: one file instead.
        Connection copied(part.fileName(), QLatin1String(kBusyTimeout));
        if (!copied.db().isOpen()
            || value(copied.db(), QStringLiteral("PRAGMA journal_mode=DELETE"), why).isEmpty()) {
            why = QStringLiteral("cannot finish the copy %1: %2")
                      .arg(QDir::toNativeSeparators(part.fileName()), why);
            return false;
        }
    }
    // Journal files of an older copy would be played into the new one when it is opened.
    for (const char *suffix : { "-wal", "-shm", "-journal" })
        QFile::remove(to.absoluteFilePath() + QLatin1String(suffix));
    std::error_code failure;
    std::filesystem::rename(fsPath(part.fileName()), fsPath(to.absoluteFilePath()), failure);
    if (failure) {
        why = QStringLiteral("cannot put the copy in place as %1: %2")
                  .arg(QDir::toNativeSeparators(target), QString::fromLocal8Bit(failure.message().c_str()));
        return false;
    }
    part.setAutoRemove(false);
    return true;
}

} // namespace

bool DatabaseBackup::copy(const QString &source, const QString &target, QString *error)
{
    QString why;
    if (copyFile(source, target, why))
        return true;
    if (error)
        *error = why;
    return false;
}
