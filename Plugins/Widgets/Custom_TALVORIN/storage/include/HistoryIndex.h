#pragma once

#include <QSqlDatabase>
#include <QString>

// The history index: tables of our own beside product_data_new that let a year of products be
// searched by time and barcode without a scan of the whole table. They are filled in short
// slices (one brief write transaction each), because a real CREATE INDEX on a year file would
// hold the write lock for seconds while the panel must store products. product_data_new itself
// is never changed and nothing in the panel's insert depends on these tables.
//
//   tlv_index_time    (uptime, id)           rows with an uptime
//   tlv_index_barcode (barcode, uptime, id)  rows with an uptime and a barcode
//   tlv_index_state   ('indexed_up_to', N)   every row with id <= N is in the two above
//
// The queries read the indexed part through these tables and the rows above the mark (the
// unindexed tail) by a plain scan, in one statement and so from one snapshot; rows deleted
// from product_data_new by anyone drop out through the join. Their results equal a plain scan's
// as a set.
namespace HistoryIndex {

// Creates the three tables when missing; idempotent.
bool createTables(QSqlDatabase &db, QString *error);
// Whether the three tables exist.
bool present(QSqlDatabase &db);
// The mark: every row with id <= it is indexed. -1 when unknown (no tables, unreadable).
qint64 indexedUpTo(QSqlDatabase &db);
// Indexes up to `limit` rows above the mark in one write transaction and moves the mark past
// them (to max(id) when none is left). The number of rows it took, 0 when the index is up to
// date; -1 on failure, with the driver's text in `error`.
int indexSlice(QSqlDatabase &db, int limit, QString *error);
// Deletes, in one write transaction, up to `limit` products stamped before `cutoff` (compared
// as text, as the stored stamps always were) with their index entries, indexed ones first, then
// from the unindexed tail. Returns the entries it took (less than `limit` when no more are due),
// -1 on failure; `products` receives the rows deleted from product_data_new. Rows with an id above
// `maxId` are kept whatever their age (-1: no such limit).
int retireSlice(
    QSqlDatabase &db, const QString &cutoff, int limit, int *products, QString *error, qint64 maxId = -1);

// `select *` rows of product_data_new with uptime between :from and :to.
QString rangeSql();
// The same with barcode LIKE :pattern ESCAPE '\' (ASCII case-insensitive); :pattern from
// likePattern(). An empty text matches every non-NULL barcode; for no barcode condition at all
// use rangeSql().
QString searchSql();
// '%' + `text` with \ % _ escaped by \ + '%': matches `text` anywhere, literally.
QString likePattern(const QString &text);

} // namespace HistoryIndex
