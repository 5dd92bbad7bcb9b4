#include "RecordQuery.h"

#include "ProductStatus.h"
#include "ProductTable.h"
#include "ReadBatch.h"
#include "RecordBuilder.h"
#include "TextShare.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <string_view>
#include <vector>

#ifdef TLV_SQLITE_NATIVE
#include <simdjson.h>
#include <sqlite3.h>
#endif

namespace {

// Rows through QSqlQuery: every text column arrives as a QString.
class QtRows
{
public:
    explicit QtRows(QSqlQuery &query)
        : m_query(query)
    {
        const QSqlRecord columns = query.record();
        for (int i = 0; i < 7; ++i)
            m_columns[i] = columns.indexOf(QLatin1String(ProductTable::columns[i]));
        m_idColumn = columns.indexOf(QLatin1String("id"));
    }
    bool next()
    {
        if (m_query.next())
            return true;
        m_failed = m_query.lastError().isValid();
        return false;
    }
    // Whether the rows ended on a read error (a damaged page) rather than after the last row.
    bool failed() const { return m_failed; }
    QString errorText() const { return m_query.lastError().text(); }
    QString text(int c) const { return m_query.value(m_columns[c]).toString(); }
    // A text that repeats across rows (a barcode), shared through the pool. Without surrogates
    // the UTF-8 round trip gives the same text back.
    QString sharedText(int c, TextShare &pool) const
    {
        QString value = text(c);
        for (const QChar ch : qAsConst(value)) {
            if (ch.isSurrogate())
                return value;
        }
        if (value.isEmpty())
            return value;
        const QByteArray utf8 = value.toUtf8();
        return pool.get(utf8.constData(), utf8.size());
    }
    int integer(int c) const { return m_query.value(m_columns[c]).toInt(); }
    qint64 id() const { return m_idColumn < 0 ? 0 : m_query.value(m_idColumn).toLongLong(); }
    int status(int c) const
    {
        const QVariant value = m_query.value(m_columns[c]);
        switch (value.userType()) {
        case QMetaType::LongLong:
            return ProductStatus::fromStored(value.toLongLong());
        case QMetaType::Double:
            return ProductStatus::fromStored(value.toDouble());
        default:
            return value.toInt();
        }
    }
    // Valid until the next call.
    std::string_view json(int c)
    {
        m_scratch = text(c).toUtf8();
        return std::string_view(m_scratch.constData(), size_t(m_scratch.size()));
    }

private:
    QSqlQuery &m_query;
    QByteArray m_scratch;
    int m_columns[7];
    int m_idColumn = -1;
    bool m_failed = false;
};

using namespace ProductTable;

template <typename Rows> void readRow(Rows &rows, TextShare &barcodes, ReadBatch &target)
{
    ReadRow &row = target.append();
    row.uptime = rows.text(Uptime);
    row.pid = rows.integer(Pid);
    row.barcode = rows.sharedText(Barcode, barcodes);
    row.psize = rows.text(Psize);
    row.status = rows.status(Status);
    row.id = rows.id();
    target.setDiameter(row, rows.json(Diameter));
    target.setAppearance(row, rows.json(Appearance));
}

// The statement is stepped on this thread only. While it reads the rows of a few batches, the
// helper of the builder builds the records of the few before; then this thread helps finish
// them and emits them batch by batch. Stops without a last batch once proceed() says the query
// is no longer wanted, or when an emission finds it stale. Rows that end on a read error are
// delivered as far as they were read, without a last batch: the caller reports the failure.
template <typename Rows>
void deliverRows(Rows &rows, const RecordQuery::Proceed &proceed, const RecordQuery::Emit &emitBatch,
    RecordReaders *readers)
{
    TextShare barcodes;
    ReadBatch read[2];
    RecordBuilder builder(
        readers); // destroyed first: its helper is stopped while the read batches still exist
    bool more = true;
    const auto readInto = [&](ReadBatch &target) {
        target.clear();
        while (target.size() < RecordQuery::buildSize && (more = rows.next())) {
            if (!proceed())
                return false;
            readRow(rows, barcodes, target);
        }
        return true;
    };
    int current = 0;
    if (!readInto(read[current]))
        return;
    std::vector<RecordQuery::Batch> slices;
    for (;;) {
        builder.start(read[current]);
        const bool last = !more;
        if (!last && !readInto(read[1 - current]))
            return;
        slices.clear();
        if (!builder.finish(slices, RecordQuery::batchSize, proceed))
            return;
        // A group of whole batches that ends the rows is followed by an empty last one.
        if (last && (slices.empty() || slices.back().size() == RecordQuery::batchSize))
            slices.emplace_back();
        for (size_t i = 0; i < slices.size(); ++i) {
            // A query no longer wanted stops between batches as between rows.
            if (!proceed())
                return;
            const bool lastBatch = last && i + 1 == slices.size();
            // Handed over, not copied: the receiver's copy becomes the only holder of these records.
            const RecordQuery::Batch batch = std::move(slices[i]);
            if (!emitBatch(lastBatch && !rows.failed(), batch) || lastBatch)
                return;
        }
        current = 1 - current;
    }
}

#ifdef TLV_SQLITE_NATIVE
// Rows stepped on the connection's own sqlite3 handle. Qt's driver reads every text column as
// UTF-16 and the JSON reader wants UTF-8 back; this reads the column bytes as SQLite has them.
class NativeRows
{
public:
    explicit NativeRows(sqlite3_stmt *stmt)
        : m_stmt(stmt)
    {
        for (int &column : m_columns)
            column = -1;
        const int count = sqlite3_column_count(stmt);
        for (int i = 0; i < count; ++i) {
            const char *name = sqlite3_column_name(stmt, i);
            for (int c = 0; c < 7; ++c)
                // Without case, as SQLite itself and Qt's driver match names.
                if (m_columns[c] < 0 && name && qstricmp(name, ProductTable::columns[c]) == 0)
                    m_columns[c] = i;
            if (m_idColumn < 0 && name && qstricmp(name, "id") == 0)
                m_idColumn = i;
        }
    }
    ~NativeRows() { sqlite3_finalize(m_stmt); }
    bool next()
    {
        const int result = sqlite3_step(m_stmt);
        if (result == SQLITE_ROW)
            return true;
        if (result != SQLITE_DONE && m_error.isEmpty()) {
            // The text Qt's driver gives for a step that fails.
            m_error = QStringLiteral("%1 Unable to fetch row")
                          .arg(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_stmt))));
        }
        return false;
    }
    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    // The same text as Qt's driver gives: integers and reals through QVariant, blobs as UTF-8,
    // texts as SQLite converts them to UTF-16 (which differs from QString::fromUtf8 only on
    // malformed UTF-8).
    QString text(int c) const
    {
        const int column = m_columns[c];
        if (column < 0)
            return QString();
        switch (sqlite3_column_type(m_stmt, column)) {
        case SQLITE_NULL:
            return QString();
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(m_stmt, column))).toString();
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_stmt, column)).toString();
        case SQLITE_BLOB:
            return QString::fromUtf8(static_cast<const char *>(sqlite3_column_blob(m_stmt, column)),
                sqlite3_column_bytes(m_stmt, column));
        default:
            break;
        }
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (simdjson::validate_utf8(bytes, size_t(size)))
            return QString::fromUtf8(bytes, size);
        const auto *utf16 = static_cast<const QChar *>(sqlite3_column_text16(m_stmt, column));
        return QString(utf16, sqlite3_column_bytes16(m_stmt, column) / int(sizeof(QChar)));
    }
    // As QVariant::toInt() on what Qt's driver returns.
    int integer(int c) const
    {
        const int column = m_columns[c];
        if (column < 0)
            return 0;
        switch (sqlite3_column_type(m_stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(m_stmt, column))).toInt();
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_stmt, column)).toInt();
        case SQLITE_NULL:
            return 0;
        default:
            return QVariant(text(c)).toInt();
        }
    }
    qint64 id() const { return m_idColumn < 0 ? 0 : qint64(sqlite3_column_int64(m_stmt, m_idColumn)); }
    int status(int c) const
    {
        const int column = m_columns[c];
        if (column >= 0 && sqlite3_column_type(m_stmt, column) == SQLITE_INTEGER)
            return ProductStatus::fromStored(qint64(sqlite3_column_int64(m_stmt, column)));
        if (column >= 0 && sqlite3_column_type(m_stmt, column) == SQLITE_FLOAT)
            return ProductStatus::fromStored(sqlite3_column_double(m_stmt, column));
        return integer(c);
    }
    // A text that repeats across rows (a barcode), shared through the pool.
    QString sharedText(int c, TextShare &pool) const
    {
        const int column = m_columns[c];
        if (column < 0 || sqlite3_column_type(m_stmt, column) != SQLITE_TEXT)
            return text(c);
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (!simdjson::validate_utf8(bytes, size_t(size)))
            return text(c);
        return pool.get(bytes, size);
    }
    // Well-formed UTF-8 text is parsed where SQLite keeps it; anything else takes the round
    // trip through QString that Qt's driver would have made.
    std::string_view json(int c)
    {
        const int column = m_columns[c];
        if (column >= 0 && sqlite3_column_type(m_stmt, column) == SQLITE_TEXT) {
            const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
            const size_t size = size_t(sqlite3_column_bytes(m_stmt, column));
            if (simdjson::validate_utf8(bytes, size))
                return std::string_view(bytes, size);
        }
        m_scratch = text(c).toUtf8();
        return std::string_view(m_scratch.constData(), size_t(m_scratch.size()));
    }

private:
    QByteArray m_scratch;
    QString m_error;
    sqlite3_stmt *m_stmt;
    int m_columns[7];
    int m_idColumn = -1;
};

sqlite3 *nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}
#endif

template <typename Rows> RecordQuery::Outcome readOutcome(const Rows &rows)
{
    if (!rows.failed())
        return { RecordQuery::Outcome::Read, QString() };
    return { RecordQuery::Outcome::ReadFailed, rows.errorText() };
}

} // namespace

RecordQuery::Outcome RecordQuery::run(QSqlDatabase &db, const QString &sql, const Proceed &proceed,
    const Emit &emitBatch, const Binds &binds, RecordReaders *readers)
{
#ifdef TLV_SQLITE_NATIVE
    if (sqlite3 *handle = nativeHandle(db)) {
        const QByteArray statement = sql.toUtf8();
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(handle, statement.constData(), statement.size() + 1, &stmt, nullptr)
            != SQLITE_OK) {
            // The same text as Qt's driver gives for a statement that does not execute.
            const QString error = QStringLiteral("%1 Unable to execute statement")
                                      .arg(QString::fromUtf8(sqlite3_errmsg(handle)));
            sqlite3_finalize(stmt);
            return { Outcome::NotExecuted, error };
        }
        // Texts bound as UTF-8 copies; the statement's parameters are named (":from").
        for (auto it = binds.cbegin(); it != binds.cend(); ++it) {
            const int index = sqlite3_bind_parameter_index(stmt, it.key().toUtf8().constData());
            const QByteArray value = it.value().toUtf8();
            if (index > 0)
                sqlite3_bind_text(stmt, index, value.constData(), value.size(), SQLITE_TRANSIENT);
        }
        NativeRows rows(stmt);
        deliverRows(rows, proceed, emitBatch, readers);
        return readOutcome(rows);
    }
#endif
    QSqlQuery query(db);
    // Forward only: the driver keeps no copy of the rows already read.
    query.setForwardOnly(true);
    bool executed = false;
    if (binds.isEmpty()) {
        executed = query.exec(sql);
    } else if (query.prepare(sql)) {
        for (auto it = binds.cbegin(); it != binds.cend(); ++it)
            query.bindValue(it.key(), it.value());
        executed = query.exec();
    }
    if (!executed)
        return { Outcome::NotExecuted, query.lastError().text() };
    QtRows rows(query);
    deliverRows(rows, proceed, emitBatch, readers);
    return readOutcome(rows);
}
