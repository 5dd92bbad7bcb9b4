#include "TLVDatasWork.h"

#include "ChunkBuilder.h"
#include "FindSequence.h"
#include "ProductStatus.h"
#include "RowChunk.h"
#include "TextPool.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QMetaType>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <string_view>
#include <utility>

#ifdef TLV_SQLITE_NATIVE
#include <simdjson.h>
#include <sqlite3.h>
#endif

namespace {

// Every intermediate batch holds this many records.
constexpr int kBatchSize = 101;

// Rows through QSqlQuery: every text column arrives as a QString.
class QtRows
{
public:
    explicit QtRows(QSqlQuery &query)
        : m_query(query)
    {
        const QSqlRecord columns = query.record();
        for (int i = 0; i < 7; ++i)
            m_columns[i] = columns.indexOf(QLatin1String(kNames[i]));
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
    QString sharedText(int c, TextPool &pool) const
    {
        const QString value = text(c);
        for (const QChar ch : value) {
            if (ch.isSurrogate())
                return value;
        }
        if (value.isEmpty())
            return value;
        const QByteArray utf8 = value.toUtf8();
        return pool.get(utf8.constData(), utf8.size());
    }
    int integer(int c) const { return m_query.value(m_columns[c]).toInt(); }
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

    static constexpr const char *kNames[7]
        = { "uptime", "pid", "barcode", "psize", "diameter", "appearance", "status" };

private:
    QSqlQuery &m_query;
    QByteArray m_scratch;
    int m_columns[7];
    bool m_failed = false;
};

enum Column { Uptime, Pid, Barcode, Psize, Diameter, Appearance, Status };

template <typename Rows> void readRow(Rows &rows, TextPool &barcodes, RowChunk &chunk)
{
    RowChunk::Row &row = chunk.append();
    row.uptime = rows.text(Uptime);
    row.pid = rows.integer(Pid);
    row.barcode = rows.sharedText(Barcode, barcodes);
    row.psize = rows.text(Psize);
    row.status = rows.status(Status);
    chunk.setDiameter(row, rows.json(Diameter));
    chunk.setAppearance(row, rows.json(Appearance));
}

// The statement is stepped on this thread only. While it reads a batch's rows, the helper of
// the builder builds the records of the batch before; then this thread helps finish them.
// Stops without a last batch once proceed() says the query is no longer wanted, or when an
// emission finds it stale. Rows that end on a read error are delivered as far as they were
// read, without a last batch: the caller reports the failure.
template <typename Rows, typename Proceed, typename Emit>
void deliverRows(Rows &rows, Proceed proceed, Emit emitBatch)
{
    TextPool barcodes;
    RowChunk chunks[2];
    ChunkBuilder builder; // destroyed first: its helper is stopped while the chunks still exist
    bool more = true;
    const auto read = [&](RowChunk &chunk) {
        chunk.clear();
        while (chunk.size() < kBatchSize && (more = rows.next())) {
            if (!proceed())
                return false;
            readRow(rows, barcodes, chunk);
        }
        return true;
    };
    int current = 0;
    if (!read(chunks[current]))
        return;
    for (;;) {
        builder.start(chunks[current]);
        const bool last = !more;
        if (!last && !read(chunks[1 - current]))
            return;
        QList<std::shared_ptr<tlv::ProductInfo>> batch;
        batch.reserve(chunks[current].size());
        if (!builder.finish(batch, proceed))
            return;
        // Handed over, not copied: the receiver's copy becomes the only holder of these records.
        if (!emitBatch(last && !rows.failed(), batch) || last)
            return;
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
                if (m_columns[c] < 0 && name && qstricmp(name, QtRows::kNames[c]) == 0)
                    m_columns[c] = i;
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
    QString sharedText(int c, TextPool &pool) const
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
};

sqlite3 *nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}
#endif

// A read error after some rows (a damaged page) fails the statement as one that does not execute
// does: logged, and no last batch.
template <typename Rows> bool readSucceeded(const Rows &rows)
{
    if (!rows.failed())
        return true;
    qCritical() << "product_data_new 数据库语句执行失败!" << rows.errorText();
    return false;
}

// Runs the statement and hands its rows out in batches; a statement that does not execute is
// logged and delivers nothing. False when the rows ended on a read error.
template <typename Proceed, typename Emit>
bool deliverQuery(QSqlDatabase &db, const QString &sql, Proceed proceed, Emit emitBatch)
{
#ifdef TLV_SQLITE_NATIVE
    if (sqlite3 *handle = nativeHandle(db)) {
        const QByteArray statement = sql.toUtf8();
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(handle, statement.constData(), statement.size() + 1, &stmt, nullptr)
            != SQLITE_OK) {
            // The same text as Qt's driver gives for a statement that does not execute.
            qCritical() << "product_data_new 数据库语句执行失败!"
                        << QStringLiteral("%1 Unable to execute statement")
                               .arg(QString::fromUtf8(sqlite3_errmsg(handle)));
            sqlite3_finalize(stmt);
            return true;
        }
        NativeRows rows(stmt);
        deliverRows(rows, proceed, emitBatch);
        return readSucceeded(rows);
    }
#endif
    QSqlQuery query(db);
    // Forward only: the driver keeps no copy of the rows already read.
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        qCritical() << "product_data_new 数据库语句执行失败!" << query.lastError().text();
        return true;
    }
    QtRows rows(query);
    deliverRows(rows, proceed, emitBatch);
    return readSucceeded(rows);
}

} // namespace

TLVDatasWork::TLVDatasWork(const QString &dbPath, QObject *parent)
    : QObject(parent)
    , m_dbPath(dbPath)
    // A connection of its own per worker; several reports never share one.
    , m_connectionName(QUuid::createUuid().toString())
{
    qRegisterMetaType<QList<std::shared_ptr<tlv::ProductInfo>>>("QList<std::shared_ptr<tlv::ProductInfo>>");
    qRegisterMetaType<std::shared_ptr<tlv::ProductInfo>>("std::shared_ptr<tlv::ProductInfo>");
}

TLVDatasWork::~TLVDatasWork()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

void TLVDatasWork::setFindSequence(std::shared_ptr<FindSequence> sequence)
{
    m_sequence = std::move(sequence);
}

// Qt lets a connection be used only in the thread that added it: the slots add it, never the
// constructor, which runs on the dialog's thread.
bool TLVDatasWork::openConnection()
{
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        m_db.setDatabaseName(m_dbPath);
    }
    return m_db.open();
}

void TLVDatasWork::Slot_FindData(QString tmStart, QString tmEnd, QString key)
{
    const int request = m_sequence ? m_sequence->requestStarted() : 0;
    QThread *thread = QThread::currentThread();
    const auto proceed = [&] {
        return !thread->isInterruptionRequested() && (!m_sequence || m_sequence->isCurrent(request));
    };
    // A request overtaken by a newer one before it started is not run at all.
    if (!proceed())
        return;
    if (!openConnection()) {
        qCritical().noquote() << QStringLiteral("TLVDatasWork::Slot_FindData 数据库打开失败，Error：%1")
                                     .arg(m_db.lastError().text());
        return;
    }

    QString sql = QStringLiteral("select * from product_data_new where uptime BETWEEN '%1' AND '%2'")
                      .arg(tmStart)
                      .arg(tmEnd);
    if (!key.isEmpty())
        sql += QStringLiteral(" AND barcode like '%%1%'").arg(key);
    const auto emitBatch = [&](bool completed, const QList<std::shared_ptr<tlv::ProductInfo>> &batch) {
        if (m_sequence && !m_sequence->claimBatch(request)) {
            // The place of this batch in the delivery order still has to be taken.
            emit Signal_FindResult(false, QList<std::shared_ptr<tlv::ProductInfo>>());
            return false;
        }
        emit Signal_FindResult(completed, batch);
        return true;
    };

    if (!deliverQuery(m_db, sql, proceed, emitBatch) && m_sequence) {
        // The rows read so far are shown without a total; the dialog learns why from one more
        // (empty) batch.
        m_sequence->readFailed(request);
        emitBatch(false, {});
    }
    m_db.close();
}

void TLVDatasWork::Slot_ClearExpiredDate(int day)
{
    if (!openConnection()) {
        qCritical().noquote() << QStringLiteral(
            "TLVDatasWork::Slot_ClearExpiredDate 数据库打开失败，Error：%1")
                                     .arg(m_db.lastError().text());
        return;
    }

    QElapsedTimer timer;
    timer.start();
    const QString cutoff
        = QDateTime::currentDateTime().addDays(-day).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));

    {
        QSqlQuery query(m_db);
        if (!m_db.transaction()) {
            qDebug() << "TLVDatasWork::Slot_ClearExpiredDate Transaction start failed:"
                     << m_db.lastError().text();
            return;
        }

        if (query.exec(QStringLiteral("DELETE FROM product_data_new WHERE uptime < '%1'").arg(cutoff))) {
            if (!m_db.commit()) {
                qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Transaction commit failed:"
                            << m_db.lastError().text();
                return;
            }
            qDebug().noquote() << QStringLiteral(
                "TLVDatasWork::Slot_ClearExpiredDate Records older than %1 days deleted successfully.")
                                      .arg(day);
        } else {
            qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Failed to delete records:"
                        << query.lastError().text();
            if (!m_db.rollback())
                qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Transaction rollback failed:"
                            << m_db.lastError().text();
        }
    }

    m_db.close();
    qDebug() << "删除过期记录耗时：" << timer.elapsed() / 1000.0 << " second";
}
