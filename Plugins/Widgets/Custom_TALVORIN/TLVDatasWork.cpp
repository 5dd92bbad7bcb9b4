#include "TLVDatasWork.h"

#include "FindSequence.h"
#include "HistoryIndex.h"
#include "ProductTable.h"
#include "RecordBuilder.h"
#include "RecordQuery.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QMetaType>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <utility>

TLVDatasWork::TLVDatasWork(const QString &dbPath, QObject *parent)
    : QObject(parent)
    , m_dbPath(dbPath)
    // A connection of its own per worker; several reports never share one.
    , m_connectionName(QUuid::createUuid().toString())
    , m_readers(std::make_unique<RecordReaders>())
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

int TLVDatasWork::startRequest()
{
    const int request = m_sequence ? m_sequence->requestStarted() : 0;
    // A request overtaken by a newer one before it started is not run at all.
    return stillWanted(request) ? request : -1;
}

bool TLVDatasWork::stillWanted(int request) const
{
    return !QThread::currentThread()->isInterruptionRequested()
        && (!m_sequence || m_sequence->isCurrent(request));
}

RecordQuery::Outcome TLVDatasWork::deliver(int request, const QString &sql, const RecordQuery::Binds &binds)
{
    const auto emitBatch = [&](bool completed, const QList<std::shared_ptr<tlv::ProductInfo>> &batch) {
        if (m_sequence && !m_sequence->claimBatch(request)) {
            // The place of this batch in the delivery order still has to be taken.
            emit Signal_FindResult(false, QList<std::shared_ptr<tlv::ProductInfo>>());
            return false;
        }
        emit Signal_FindResult(completed, batch);
        return true;
    };
    RecordQuery::Outcome outcome = RecordQuery::run(
        m_db, sql, [&] { return stillWanted(request); }, emitBatch, binds, m_readers.get());
    if (outcome.kind == RecordQuery::Outcome::ReadFailed && m_sequence) {
        // The rows read so far are shown without a total; the dialog learns why from one more
        // (empty) batch.
        m_sequence->readFailed(request);
        emitBatch(false, {});
    }
    return outcome;
}

// By value, as the dialog's queued signal delivers them.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void TLVDatasWork::Slot_FindData(QString tmStart, QString tmEnd, QString key)
{
    const int request = startRequest();
    if (request < 0)
        return;
    if (!openConnection()) {
        qCritical().noquote() << QStringLiteral("TLVDatasWork::Slot_FindData 数据库打开失败，Error：%1")
                                     .arg(m_db.lastError().text());
        return;
    }
    const RecordQuery::Outcome outcome = deliver(request, ProductTable::selectSql(tmStart, tmEnd, key), {});
    // A read error after some rows (a damaged page) fails the statement as one that does not
    // execute does: logged, and no last batch.
    if (outcome.kind != RecordQuery::Outcome::Read)
        qCritical() << "product_data_new 数据库语句执行失败!" << outcome.error;
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

// NOLINTNEXTLINE(performance-unnecessary-value-param)
void TLVDatasWork::Slot_FindHistory(QString tmStart, QString tmEnd, QString text)
{
    const int request = startRequest();
    if (request < 0)
        return;
    if (!openConnection()) {
        qCritical().noquote() << QStringLiteral("TLVDatasWork::Slot_FindHistory 数据库打开失败，Error：%1")
                                     .arg(m_db.lastError().text());
        return;
    }
    RecordQuery::Binds binds { { QStringLiteral(":from"), tmStart }, { QStringLiteral(":to"), tmEnd } };
    if (!text.isEmpty())
        binds.insert(QStringLiteral(":pattern"), HistoryIndex::likePattern(text));
    // A file whose index is not there (yet) is read by a plain scan, with the same results.
    QString sql;
    if (HistoryIndex::present(m_db))
        sql = text.isEmpty() ? HistoryIndex::rangeSql() : HistoryIndex::searchSql();
    else
        sql = ProductTable::selectBoundSql(!text.isEmpty());
    const RecordQuery::Outcome outcome = deliver(request, sql, binds);
    if (outcome.kind != RecordQuery::Outcome::Read)
        qCritical() << "product_data_new 数据库语句执行失败!" << outcome.error;
    m_db.close();
}
