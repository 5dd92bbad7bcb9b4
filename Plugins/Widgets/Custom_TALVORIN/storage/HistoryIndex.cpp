#include "HistoryIndex.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <limits>

namespace {

#define TLV_MARK_SQL "select coalesce((select value from tlv_index_state where name = 'indexed_up_to'), 0)"
const char *const kMarkSql = TLV_MARK_SQL;

// One write transaction, rolled back unless committed. IMMEDIATE takes the write lock at once,
// so a slice never fails half-way because another writer committed after its reads.
class WriteTransaction
{
public:
    explicit WriteTransaction(QSqlDatabase &db)
        : m_db(db)
    {
    }
    ~WriteTransaction()
    {
        if (m_open)
            QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    }
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    bool begin(QString *error)
    {
        QSqlQuery query(m_db);
        m_open = query.exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (!m_open && error)
            *error = query.lastError().text();
        return m_open;
    }
    bool commit(QString *error)
    {
        QSqlQuery query(m_db);
        if (!query.exec(QStringLiteral("COMMIT"))) {
            if (error)
                *error = query.lastError().text();
            return false;
        }
        m_open = false;
        return true;
    }

private:
    QSqlDatabase &m_db;
    bool m_open = false;
};

// Runs `sql` with `values` bound in order; on failure the driver's text goes to `error`.
bool run(QSqlQuery &query, const char *sql, const QVariantList &values, QString *error)
{
    bool ok = query.prepare(QLatin1String(sql));
    for (const QVariant &value : values)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok && error)
        *error = query.lastError().text();
    return ok;
}

// The first column of the first row of `sql`, or -1.
qint64 scalar(QSqlDatabase &db, const char *sql, const QVariantList &values, QString *error)
{
    QSqlQuery query(db);
    if (!run(query, sql, values, error))
        return -1;
    if (!query.next()) {
        if (error)
            *error = query.lastError().text();
        return -1;
    }
    return query.value(0).toLongLong();
}

// The bounds, the pattern and the mark, each bound once, then read by both halves of a query.
// The outer loops run in the order written (cross join), so the index tables drive the join;
// product_data_new is reached by id alone (not indexed), even where someone gave it an index
// of their own, which would turn the tail's few rows into a walk through the whole range.
const char *const kRangeSql
    = "with arg(f, t, mark) as (select :from, :to, "
      "coalesce((select value from tlv_index_state where name = 'indexed_up_to'), 0)) "
      "select p.* from arg cross join tlv_index_time x cross join product_data_new p not indexed "
      "where x.uptime between arg.f and arg.t and x.id <= arg.mark "
      "and p.id = x.id and p.uptime between arg.f and arg.t "
      "union all "
      "select p.* from arg cross join product_data_new p not indexed "
      "where p.id > arg.mark and p.uptime between arg.f and arg.t";

// The distinct barcodes by a loose index scan (one seek each), the matching ones' rows in the
// range through (barcode, uptime, id). The row's own values are checked again, so a row changed
// after it was indexed is never returned for the values it no longer has.
const char *const kSearchSql
    = "with recursive arg(f, t, pat, mark) as (select :from, :to, :pattern, "
      "coalesce((select value from tlv_index_state where name = 'indexed_up_to'), 0)), "
      "bc(b) as (select min(barcode) from tlv_index_barcode "
      "union all select (select min(barcode) from tlv_index_barcode where barcode > bc.b) "
      "from bc where bc.b is not null) "
      "select p.* from arg cross join bc cross join tlv_index_barcode x "
      "cross join product_data_new p not indexed "
      "where bc.b like arg.pat escape '\\' "
      "and x.barcode = bc.b and x.uptime between arg.f and arg.t and x.id <= arg.mark "
      "and p.id = x.id and p.uptime between arg.f and arg.t and p.barcode like arg.pat escape '\\' "
      "union all "
      "select p.* from arg cross join product_data_new p not indexed "
      "where p.id > arg.mark and p.uptime between arg.f and arg.t and p.barcode like arg.pat escape '\\'";

// The first `limit` time-index entries before the cut-off, in key order; bound: cut-off, limit.
#define TLV_DUE_ENTRIES                                                                                      \
    "select uptime, id from tlv_index_time where uptime < ? and id <= ? order by uptime, id limit ?"

} // namespace

bool HistoryIndex::createTables(QSqlDatabase &db, QString *error)
{
    // Together, so that present() never sees a part of them.
    WriteTransaction transaction(db);
    if (!transaction.begin(error))
        return false;
    QSqlQuery query(db);
    for (const char *sql : {
             "create table if not exists tlv_index_time (uptime text not null, id integer not null, "
             "primary key (uptime, id)) without rowid",
             "create table if not exists tlv_index_barcode (barcode text not null, uptime text not null, "
             "id integer not null, primary key (barcode, uptime, id)) without rowid",
             "create table if not exists tlv_index_state (name text primary key, value integer)",
             "insert or ignore into tlv_index_state (name, value) values ('indexed_up_to', 0)",
         }) {
        if (!run(query, sql, {}, error))
            return false;
    }
    return transaction.commit(error);
}

bool HistoryIndex::present(QSqlDatabase &db)
{
    return scalar(db,
               "select count(*) from sqlite_master where type = 'table' and name in "
               "('tlv_index_time', 'tlv_index_barcode', 'tlv_index_state')",
               {}, nullptr)
        == 3;
}

qint64 HistoryIndex::indexedUpTo(QSqlDatabase &db)
{
    if (!present(db))
        return -1;
    return scalar(db, "select value from tlv_index_state where name = 'indexed_up_to'", {}, nullptr);
}

int HistoryIndex::indexSlice(QSqlDatabase &db, int limit, QString *error)
{
    // The slice's rows are read once before the write lock is taken: on a year file they are
    // mostly not in memory, and reading them from disk under the lock would hold up the panel's
    // inserts. Under the lock they are then read again from the page cache.
    {
        QSqlQuery warm(db);
        if (!run(warm,
                "select sum(length(barcode)) + sum(length(uptime)) from (select barcode, uptime "
                "from product_data_new not indexed where id > (" TLV_MARK_SQL ") order by id limit ?)",
                { limit }, error))
            return -1;
    }
    WriteTransaction transaction(db);
    if (!transaction.begin(error))
        return -1;
    const qint64 mark = scalar(db, kMarkSql, {}, error);
    if (mark < 0)
        return -1;
    QSqlQuery query(db);
    if (!run(query,
            "select count(*), max(id) from "
            "(select id from product_data_new not indexed where id > ? order by id limit ?)",
            { mark, limit }, error)
        || !query.next())
        return -1;
    const int taken = query.value(0).toInt();
    qint64 upTo = query.value(1).toLongLong();
    query.finish();
    if (taken == 0) {
        upTo = scalar(db, "select coalesce(max(id), 0) from product_data_new", {}, error);
        if (upTo < 0)
            return -1;
    } else if (!run(query,
                   "insert or ignore into tlv_index_time (uptime, id) "
                   "select uptime, id from product_data_new not indexed "
                   "where id > ? and id <= ? and uptime is not null",
                   { mark, upTo }, error)
        || !run(query,
            "insert or ignore into tlv_index_barcode (barcode, uptime, id) "
            "select barcode, uptime, id from product_data_new not indexed "
            "where id > ? and id <= ? and uptime is not null and barcode is not null "
            "order by barcode, uptime, id",
            { mark, upTo }, error)) {
        return -1;
    }
    if (upTo != mark
        && !run(query, "update tlv_index_state set value = ? where name = 'indexed_up_to'", { upTo }, error))
        return -1;
    return transaction.commit(error) ? taken : -1;
}

int HistoryIndex::retireSlice(
    QSqlDatabase &db, const QString &cutoff, int limit, int *products, QString *error, qint64 maxId)
{
    if (maxId < 0)
        maxId = std::numeric_limits<qint64>::max();
    if (products)
        *products = 0;
    WriteTransaction transaction(db);
    if (!transaction.begin(error))
        return -1;
    const qint64 mark = scalar(db, kMarkSql, {}, error);
    const qint64 indexed = mark < 0
        ? -1
        : scalar(db, "select count(*) from (" TLV_DUE_ENTRIES ")", { cutoff, maxId, limit }, error);
    if (indexed < 0)
        return -1;
    QSqlQuery query(db);
    int deleted = 0;
    if (indexed > 0) {
        // Barcode entries first: they are found through the rows and the time entries.
        if (!run(query,
                "delete from tlv_index_barcode where (barcode, uptime, id) in "
                "(select p.barcode, x.uptime, x.id from (" TLV_DUE_ENTRIES ") x "
                "cross join product_data_new p not indexed where p.id = x.id and p.barcode is not null)",
                { cutoff, maxId, limit }, error))
            return -1;
        if (!run(query,
                "delete from product_data_new not indexed where uptime < ? and id in "
                "(select id from (" TLV_DUE_ENTRIES "))",
                { cutoff, cutoff, maxId, limit }, error))
            return -1;
        deleted = query.numRowsAffected();
        if (!run(query, "delete from tlv_index_time where (uptime, id) in (" TLV_DUE_ENTRIES ")",
                { cutoff, maxId, limit }, error))
            return -1;
    }
    int tail = 0;
    if (indexed < limit) {
        // The few rows above the mark, which the keeper indexes within a second anyway.
        if (!run(query,
                "delete from product_data_new not indexed where id in "
                "(select id from product_data_new not indexed where id > ? and id <= ? and uptime < ? "
                "order by id limit ?)",
                { mark, maxId, cutoff, limit - int(indexed) }, error))
            return -1;
        tail = query.numRowsAffected();
    }
    if (!transaction.commit(error))
        return -1;
    if (products)
        *products = deleted + tail;
    return int(indexed) + tail;
}

QString HistoryIndex::rangeSql()
{
    return QLatin1String(kRangeSql);
}

QString HistoryIndex::searchSql()
{
    return QLatin1String(kSearchSql);
}

QString HistoryIndex::likePattern(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += QLatin1Char('%');
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\\') || ch == QLatin1Char('%') || ch == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += ch;
    }
    escaped += QLatin1Char('%');
    return escaped;
}
