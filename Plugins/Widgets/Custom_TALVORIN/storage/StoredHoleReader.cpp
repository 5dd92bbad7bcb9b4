#include "StoredHoleReader.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>

#ifdef TLV_SQLITE_NATIVE
#include <sqlite3.h>
#endif

namespace {

// Each window of the scan is a statement, and so a read transaction, of its own.
constexpr qint64 kWindow = 4096;
constexpr size_t kLookups = 512; // lookups per read transaction
constexpr int kBusyMs = 2000;
// The pages read in place rather than copied out by a system call each: the scan's largest cost
// after the JSON.
constexpr const char *kMapSql = "pragma mmap_size = 268435456";

constexpr const char *kRangeSql
    = "select id, diameter from product_data_new where id between ? and ? order by id";
constexpr const char *kOneSql = "select id, diameter from product_data_new where id = ?";

#ifdef TLV_SQLITE_NATIVE
// The texts straight from SQLite, without a detour through QString.
class Connection
{
public:
    explicit Connection(const QString &path)
    {
        if (sqlite3_open_v2(
                path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
                != SQLITE_OK
            || sqlite3_busy_timeout(m_db, kBusyMs) != SQLITE_OK
            || sqlite3_exec(m_db, kMapSql, nullptr, nullptr, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(m_db, kRangeSql, -1, &m_range, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(m_db, kOneSql, -1, &m_one, nullptr) != SQLITE_OK)
            fail();
    }
    ~Connection()
    {
        sqlite3_finalize(m_range);
        sqlite3_finalize(m_one);
        sqlite3_close(m_db);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }

    template <typename Row> bool scan(qint64 low, qint64 up, const Row &row)
    {
        sqlite3_bind_int64(m_range, 1, low);
        sqlite3_bind_int64(m_range, 2, up);
        return rows(m_range, row);
    }
    template <typename Row> bool lookup(const qint64 *ids, size_t count, const Row &row)
    {
        if (!exec("begin"))
            return false;
        bool ok = true;
        for (size_t i = 0; ok && i < count; ++i) {
            sqlite3_bind_int64(m_one, 1, ids[i]);
            ok = rows(m_one, row);
        }
        return exec("commit") && ok;
    }

private:
    template <typename Row> bool rows(sqlite3_stmt *stmt, const Row &row)
    {
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
            row(qint64(sqlite3_column_int64(stmt, 0)), text, size_t(sqlite3_column_bytes(stmt, 1)));
        }
        sqlite3_reset(stmt);
        return result == SQLITE_DONE || fail();
    }
    bool exec(const char *sql)
    {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail();
    }
    bool fail()
    {
        m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        return false;
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_range = nullptr;
    sqlite3_stmt *m_one = nullptr;
    QString m_error;
};
#else
// Where Qt's driver carries its own SQLite, the texts come as QStrings.
class Connection
{
public:
    explicit Connection(const QString &path)
        : m_name(QStringLiteral("tlv-holes-") + QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMs));
        if (!db.open()) {
            m_error = db.lastError().text();
            return;
        }
        m_range = QSqlQuery(db);
        m_range.exec(QLatin1String(kMapSql));
        m_one = QSqlQuery(db);
        for (QSqlQuery *query : { &m_range, &m_one }) {
            query->setForwardOnly(true);
            if (m_error.isEmpty() && !query->prepare(QLatin1String(query == &m_range ? kRangeSql : kOneSql)))
                m_error = query->lastError().text();
        }
    }
    ~Connection()
    {
        m_range = QSqlQuery();
        m_one = QSqlQuery();
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }

    template <typename Row> bool scan(qint64 low, qint64 up, const Row &row)
    {
        m_range.bindValue(0, low);
        m_range.bindValue(1, up);
        return rows(m_range, row);
    }
    template <typename Row> bool lookup(const qint64 *ids, size_t count, const Row &row)
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (!db.transaction()) {
            m_error = db.lastError().text();
            return false;
        }
        bool ok = true;
        for (size_t i = 0; ok && i < count; ++i) {
            m_one.bindValue(0, ids[i]);
            ok = rows(m_one, row);
        }
        if (!db.commit() && ok) {
            m_error = db.lastError().text();
            return false;
        }
        return ok;
    }

private:
    template <typename Row> bool rows(QSqlQuery &query, const Row &row)
    {
        bool ok = query.exec();
        while (ok && query.next()) {
            const QByteArray text = query.value(1).toString().toUtf8();
            row(query.value(0).toLongLong(), text.constData(), size_t(text.size()));
        }
        ok = ok && !query.lastError().isValid();
        if (!ok)
            m_error = query.lastError().text();
        query.finish();
        return ok;
    }

    QString m_name;
    QSqlQuery m_range;
    QSqlQuery m_one;
    QString m_error;
};
#endif

} // namespace

bool StoredHoleReader::read(
    const QString &dbPath, const std::vector<qint64> &ids, StoredHoles &holes, QString *error)
{
    if (ids.empty())
        return true;
    Connection connection(dbPath);
    const auto keep = [&holes](qint64 id, const char *text, size_t size) {
        if (text)
            holes.add(id, text, size);
    };
    bool ok = connection.ok();
    const qint64 first = ids.front();
    const qint64 last = ids.back();
    if (qint64(ids.size()) * 2 >= last - first + 1) {
        // Dense: the rows of the interval, those of other products passed over.
        size_t at = 0;
        const auto wanted = [&](qint64 id, const char *text, size_t size) {
            while (at < ids.size() && ids[at] < id)
                ++at;
            if (at < ids.size() && ids[at] == id)
                keep(id, text, size);
        };
        for (qint64 low = first; ok && low <= last; low += kWindow)
            ok = connection.scan(low, std::min(last, low + kWindow - 1), wanted);
    } else {
        for (size_t at = 0; ok && at < ids.size(); at += kLookups)
            ok = connection.lookup(ids.data() + at, std::min(kLookups, ids.size() - at), keep);
    }
    if (!ok && error)
        *error = connection.error();
    return ok;
}
