#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The product table: its name, its statements and its columns, defined once for the panel's
// store, the report's worker, the generator, the benchmarks and the tests. The texts are the
// ones files in the field were made with; they never change.
namespace ProductTable {

constexpr const char *name = "product_data_new";

constexpr const char *createSql
    = "create table product_data_new (id integer primary key autoincrement not null,uptime text, pid "
      "integer, "
      "barcode text,psize text,diameter text,appearance text, status integer)";

constexpr const char *insertSql = "INSERT INTO product_data_new (uptime, pid, barcode, psize, "
                                  "diameter, appearance, status) VALUES (:dtime, "
                                  ":dpid, :dbc, :dsize, :ddia, :dapp, :dsta)";

// The columns a product is written to and read from, in table order (after "id").
enum Column { Uptime, Pid, Barcode, Psize, Diameter, Appearance, Status, ColumnCount };
constexpr const char *columns[ColumnCount]
    = { "uptime", "pid", "barcode", "psize", "diameter", "appearance", "status" };

// The report's query of a time range: the bounds and the barcode key go into the text as they
// are, as the report always sent them.
inline QString selectSql(const QString &from, const QString &to, const QString &key)
{
    QString sql = QStringLiteral("select * from product_data_new where uptime BETWEEN '%1' AND '%2'")
                      .arg(from)
                      .arg(to);
    if (!key.isEmpty())
        sql += QStringLiteral(" AND barcode like '%%1%'").arg(key);
    return sql;
}

// The same query with bound values (:from, :to) and, with a pattern, a barcode that is LIKE
// :pattern ESCAPE '\', for searches that must find a quote or a % as the text they are.
inline QString selectBoundSql(bool withPattern)
{
    QString sql = QStringLiteral("select * from product_data_new where uptime BETWEEN :from AND :to");
    if (withPattern)
        sql += QStringLiteral(" AND barcode LIKE :pattern ESCAPE '\\'");
    return sql;
}

// What keeps a file's product_data_new from taking the panel's rows: columns it writes that are
// missing, and not null columns without a default that it does not write. Names compare
// without case, as SQLite's do. `read` is false when the table's columns could not be read.
struct ColumnCheck
{
    bool read = false;
    QStringList missing;
    QStringList unfillable;
    bool fits() const { return missing.isEmpty() && unfillable.isEmpty(); }
};
ColumnCheck checkColumns(const QSqlDatabase &db);

} // namespace ProductTable
