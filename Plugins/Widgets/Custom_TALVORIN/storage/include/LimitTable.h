#pragma once

#include "KeptLimit.h"

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

// The limits each characteristic was judged against, kept in a table of our own beside
// product_data_new (which stays as it is): one entry per characteristic and change, starting at
// the id of the first product judged against it. The limits of any stored product are those of
// its characteristic's entry with the greatest from_id not above the product's id. A limit that
// is not a number is stored as NULL and read back as NaN.
namespace LimitTable {

constexpr const char *name = "tlv_limits";

constexpr const char *createSql = "create table if not exists tlv_limits (characteristic text not null, "
                                  "from_id integer not null, low real, up real, "
                                  "primary key (characteristic, from_id))";

// Creates the table when missing.
bool create(QSqlDatabase &db, QString *error);
// Entries for `limits`, all starting at `fromId`, in one transaction.
bool append(QSqlDatabase &db, qint64 fromId, const QMap<QString, Tolerance> &limits, QString *error);
// The same within the caller's transaction.
bool insert(QSqlDatabase &db, qint64 fromId, const QMap<QString, Tolerance> &limits, QString *error);
// Every entry; a file without the table has none.
bool read(QSqlDatabase &db, QVector<KeptLimit> &entries, QString *error);
// The same on a connection of its own, from any thread.
bool readFile(const QString &dbPath, QVector<KeptLimit> &entries, QString *error);

} // namespace LimitTable
