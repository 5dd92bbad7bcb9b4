#include "DatabaseCheck.h"

#include "ProductTable.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace {

// Never "tlv": the panel takes that connection as it finds it.
const char *const kConnection = "station_host_dbcheck";
const char *const kBusyTimeout = "QSQLITE_BUSY_TIMEOUT=500";
const char *const kAdvice = "move it away or choose another --data folder";

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Another program holds the file (a backup, a report): not the file's fault.
bool heldByOther(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff; // primary SQLite result code
    return code == 5 /* busy */ || code == 6 /* locked */;
}

// What the panel could not fill in product_data_new, in words; empty when it fits.
QString foreignColumns(const QSqlDatabase &db)
{
    const ProductTable::ColumnCheck check = ProductTable::checkColumns(db);
    QStringList faults;
    if (!check.missing.isEmpty())
        faults << QStringLiteral("it lacks the columns %1").arg(check.missing.join(QLatin1String(", ")));
    if (!check.unfillable.isEmpty())
        faults << QStringLiteral("it has not null columns without a default that the panel does not fill: %1")
                      .arg(check.unfillable.join(QLatin1String(", ")));
    return faults.join(QLatin1String(" and "));
}

// Reads the schema on a read-only connection. Sets `read` when it could: the file is a SQLite
// database that no other program holds.
QString readSchema(QSqlDatabase &db, const QString &dbPath, bool *read)
{
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;") + QLatin1String(kBusyTimeout));
    db.setDatabaseName(dbPath);
    if (!db.open())
        return QStringLiteral("%1 cannot be opened (%2); %3")
            .arg(native(dbPath), db.lastError().databaseText(), QLatin1String(kAdvice));
    QSqlQuery query(db);
    // Names are case-insensitive in SQLite: a view or an index of this name blocks the table too.
    if (!query.exec(QStringLiteral("SELECT type, name FROM sqlite_master WHERE name = 'product_data_new' "
                                   "COLLATE NOCASE AND type IN ('table', 'view', 'index')"))) {
        if (heldByOther(query.lastError()))
            return QString();
        return QStringLiteral("%1 is not a readable SQLite database (%2); %3")
            .arg(native(dbPath), query.lastError().databaseText(), QLatin1String(kAdvice));
    }
    *read = true;
    if (!query.next())
        return QString(); // the panel creates its table
    const QString type = query.value(0).toString();
    const QString name = query.value(1).toString();
    if (type != QLatin1String("table") || name != QLatin1String("product_data_new"))
        return QStringLiteral("%1 holds a %2 named %3 where the panel keeps its table product_data_new; %4")
            .arg(native(dbPath), type, name, QLatin1String(kAdvice));
    const QString foreign = foreignColumns(db);
    if (!foreign.isEmpty())
        return QStringLiteral("%1 holds a table product_data_new that is not the panel's: %2; %3")
            .arg(native(dbPath), foreign, QLatin1String(kAdvice));
    return QString();
}

// Makes a change and rolls it back, which leaves the file as it was. The file is opened
// without being created, should it have vanished meanwhile.
QString tryWrite(QSqlDatabase &db, const QString &dbPath)
{
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;") + QLatin1String(kBusyTimeout));
    db.setDatabaseName(QUrl::fromLocalFile(dbPath).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
    QSqlError error;
    if (!db.open()) {
        error = db.lastError();
    } else if (!db.transaction()) {
        error = db.lastError();
    } else {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("CREATE TABLE station_host_write_check (x)")))
            error = query.lastError();
        query.finish();
        db.rollback();
    }
    if (!error.isValid() || heldByOther(error))
        return QString();
    return QStringLiteral("%1 cannot be written (%2); make the file and its folder writable, or choose "
                          "another --data folder")
        .arg(native(dbPath), error.databaseText());
}

} // namespace

QString DatabaseCheck::problem(const QString &dbPath)
{
    const QFileInfo file(dbPath);
    const QFileInfo folder(file.absolutePath());
    if (folder.exists() && !folder.isDir())
        return QStringLiteral("%1 is a file where the database folder should be; %2")
            .arg(native(folder.filePath()), QLatin1String(kAdvice));
    if (file.isDir())
        return QStringLiteral("%1 is a folder where the database file should be; %2")
            .arg(native(dbPath), QLatin1String(kAdvice));
    if (!file.exists())
        return QString(); // the panel creates it

    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
        bool read = false;
        result = readSchema(db, dbPath, &read);
        db.close();
        // Over a foreign table too: closing last, the read-write connection removes the journal
        // files of a write-ahead database that the read-only one had to create.
        if (read) {
            const QString unwritable = tryWrite(db, dbPath);
            if (result.isEmpty())
                result = unwritable;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return result;
}
