#include "ProductStream.h"

#include "HistoryIndex.h"
#include "ProductTable.h"
#include "RecordQuery.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QUuid>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

ProductStream::ProductStream(
    const QString &dbPath, const QString &from, const QString &to, const QString &search)
{
    m_thread = std::thread([=] { read(dbPath, from, to, search); });
}

ProductStream::~ProductStream()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

QString ProductStream::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

ReportWorkbookWriter::Pull ProductStream::next(ReportWorkbookWriter::Products &batch)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_waiting.empty() || m_ended || m_failed; });
    if (m_failed)
        return ReportWorkbookWriter::Pull::Failed;
    if (!m_lent.isEmpty())
        m_written.push_back(std::move(m_lent));
    m_lent.clear();
    if (!m_waiting.empty()) {
        m_lent = std::move(m_waiting.front());
        m_waiting.pop_front();
        batch = m_lent; // shared: the writer's clear() leaves the products to m_lent
        m_changed.notify_all();
        return ReportWorkbookWriter::Pull::More;
    }
    return ReportWorkbookWriter::Pull::End;
}

void ProductStream::read(const QString &dbPath, const QString &from, const QString &to, const QString &search)
{
#ifdef Q_OS_LINUX
    // The writer is the export's critical path and runs on one core; reading keeps ahead of it
    // on what is left, so it gives way (this thread and the builder's helper it starts) rather
    // than take the writer's core on a two-core station.
    ::setpriority(PRIO_PROCESS, 0, 5);
#endif
    const QString connection = QStringLiteral("tlvctl-") + QUuid::createUuid().toString();
    QString error;
    bool ended = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            error = QStringLiteral("cannot open %1: %2").arg(dbPath, db.lastError().text());
        } else {
            RecordQuery::Binds binds { { QStringLiteral(":from"), from }, { QStringLiteral(":to"), to } };
            if (!search.isEmpty())
                binds.insert(QStringLiteral(":pattern"), HistoryIndex::likePattern(search));
            // The report's own choice of statement, so that rows come in the order it lists them.
            QString sql;
            if (HistoryIndex::present(db))
                sql = search.isEmpty() ? HistoryIndex::rangeSql() : HistoryIndex::searchSql();
            else
                sql = ProductTable::selectBoundSql(!search.isEmpty());
            const auto proceed = [this] {
                std::lock_guard<std::mutex> lock(m_mutex);
                return !m_stopping;
            };
            std::deque<ReportWorkbookWriter::Products> written;
            const auto emitBatch = [this, &ended, &written](bool last, const RecordQuery::Batch &batch) {
                ReportWorkbookWriter::Products products;
                products.reserve(batch.size());
                for (const auto &product : batch)
                    products.append(product);
                written.clear(); // outside the lock
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_waiting.size() < maxWaiting || m_stopping; });
                if (m_stopping)
                    return false;
                if (!products.isEmpty())
                    m_waiting.push_back(std::move(products));
                written.swap(m_written);
                ended = last;
                m_changed.notify_all();
                return true;
            };
            const RecordQuery::Outcome outcome = RecordQuery::run(db, sql, proceed, emitBatch, binds);
            if (outcome.kind != RecordQuery::Outcome::Read || !ended)
                error = QStringLiteral("cannot read the products of %1: %2")
                            .arg(dbPath, outcome.error.isEmpty() ? QStringLiteral("stopped") : outcome.error);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = error;
    m_failed = !error.isEmpty();
    m_ended = true;
    m_changed.notify_all();
}
