#include "TLVDatasWork.h"

#include "RecordJsonParser.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QMetaType>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

namespace {

// Every intermediate batch holds this many records.
constexpr int kBatchSize = 101;

} // namespace

TLVDatasWork::TLVDatasWork(const QString &dbPath, QObject *parent)
    : QObject(parent)
{
    // A connection of its own per worker; several reports never share one.
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QUuid::createUuid().toString());
    qRegisterMetaType<QList<std::shared_ptr<tlv::ProductInfo>>>("QList<std::shared_ptr<tlv::ProductInfo>>");
    qRegisterMetaType<std::shared_ptr<tlv::ProductInfo>>("std::shared_ptr<tlv::ProductInfo>");
    m_db.setDatabaseName(dbPath);
}

TLVDatasWork::~TLVDatasWork()
{
    m_db.close();
    m_db = QSqlDatabase();
}

void TLVDatasWork::Slot_FindData(QString tmStart, QString tmEnd, QString key)
{
    if (!m_db.open()) {
        qCritical().noquote() << QStringLiteral("TLVDatasWork::Slot_FindData 数据库打开失败，Error：%1").arg(m_db.lastError().text());
        return;
    }

    QList<std::shared_ptr<tlv::ProductInfo>> batch;
    {
        QSqlQuery query(m_db);
        // Forward only: the driver keeps no copy of the rows already read.
        query.setForwardOnly(true);
        QString sql = QStringLiteral("select * from product_data_new where uptime BETWEEN '%1' AND '%2'").arg(tmStart).arg(tmEnd);
        if (!key.isEmpty())
            sql += QStringLiteral(" AND barcode like '%%1%'").arg(key);

        if (!query.exec(sql)) {
            qCritical() << "product_data_new 数据库语句执行失败!" << query.lastError().text();
            query.finish();
            m_db.close();
            return;
        }

        const QSqlRecord columns = query.record();
        const int colUptime = columns.indexOf(QStringLiteral("uptime"));
        const int colPid = columns.indexOf(QStringLiteral("pid"));
        const int colBarcode = columns.indexOf(QStringLiteral("barcode"));
        const int colPsize = columns.indexOf(QStringLiteral("psize"));
        const int colDiameter = columns.indexOf(QStringLiteral("diameter"));
        const int colAppearance = columns.indexOf(QStringLiteral("appearance"));
        const int colStatus = columns.indexOf(QStringLiteral("status"));

        batch.reserve(kBatchSize);
        while (query.next()) {
            auto product = std::make_shared<tlv::ProductInfo>();
            product->uptime = query.value(colUptime).toString();
            product->pid = query.value(colPid).toInt();
            product->barcode = query.value(colBarcode).toString();
            product->psize = query.value(colPsize).toString();
            product->status = query.value(colStatus).toInt();
            const QString diameter = query.value(colDiameter).toString();
            const QString appearance = query.value(colAppearance).toString();
            if (!diameter.isEmpty())
                product->vtHoles = RecordJsonParser::parseHoles(diameter);
            if (!appearance.isEmpty())
                product->vtApes = RecordJsonParser::parseApes(appearance);
            batch.append(std::move(product));

            if (batch.size() >= kBatchSize) {
                emit Signal_FindResult(false, batch);
                // The receiver's copy becomes the only holder of these records.
                batch = QList<std::shared_ptr<tlv::ProductInfo>>();
                batch.reserve(kBatchSize);
            }
        }
    }

    emit Signal_FindResult(true, batch);
    batch.clear();
    m_db.close();
}

void TLVDatasWork::Slot_ClearExpiredDate(int day)
{
    if (!m_db.open()) {
        qCritical().noquote() << QStringLiteral("TLVDatasWork::Slot_ClearExpiredDate 数据库打开失败，Error：%1").arg(m_db.lastError().text());
        return;
    }

    QElapsedTimer timer;
    timer.start();
    const QString cutoff = QDateTime::currentDateTime().addDays(-day).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));

    {
        QSqlQuery query(m_db);
        if (!m_db.transaction()) {
            qDebug() << "TLVDatasWork::Slot_ClearExpiredDate Transaction start failed:" << m_db.lastError().text();
            return;
        }

        if (query.exec(QStringLiteral("DELETE FROM product_data_new WHERE uptime < '%1'").arg(cutoff))) {
            if (!m_db.commit()) {
                qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Transaction commit failed:" << m_db.lastError().text();
                return;
            }
            qDebug().noquote() << QStringLiteral("TLVDatasWork::Slot_ClearExpiredDate Records older than %1 days deleted successfully.").arg(day);
        } else {
            qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Failed to delete records:" << query.lastError().text();
            if (!m_db.rollback())
                qCritical() << "TLVDatasWork::Slot_ClearExpiredDate Transaction rollback failed:" << m_db.lastError().text();
        }
    }

    m_db.close();
    qDebug() << "删除过期记录耗时：" << timer.elapsed() / 1000.0 << " second";
}
