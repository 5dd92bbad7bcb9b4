// The report dialog's life cycle under repetition: opened, queried and destroyed again and
// again, a third of the time while a query of 100,000 rows is still running; the defect chart
// refreshed by clicking products with and without defects. Threads must come back to where
// they were, memory must not creep, the charts must never pile up series or axes.
// TLV_DIALOGS and TLV_REFRESHES raise the counts for the long run (500 and 10,000).
#include "ReportTable.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtTest>

#include <malloc.h>
#include <memory>

QT_CHARTS_USE_NAMESPACE

namespace {

long statusValue(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}
long threads() { return statusValue("Threads:"); }
// Resident memory in KiB, after handing freed heap back, so that only what is still held counts.
long rssKiB()
{
    malloc_trim(0);
    return statusValue("VmRSS:");
}

// The sanitizer's quarantine and stack depot grow RSS by design; leaks are LSan's job there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureRss = false;
#else
constexpr bool kMeasureRss = true;
#endif

int envCount(const char *name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

// Rows stamped today, so that the dialog's first query finds them; every third has defects.
bool fill(const QString &file, int rows)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(file);
        ok = db.open();
        QSqlQuery query(db);
        ok = ok
             && query.exec(QStringLiteral("create table product_data_new (id integer primary key autoincrement not "
                                          "null,uptime text, pid integer, barcode text,psize text,diameter "
                                          "text,appearance text, status integer)"));
        ok = ok && db.transaction();
        ok = ok
             && query.prepare(QStringLiteral("insert into product_data_new (uptime, pid, barcode, psize, diameter, "
                                              "appearance, status) values (?, ?, ?, ?, ?, ?, ?)"));
        const QString uptime = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 12:00:00");
        for (int i = 0; ok && i < rows; ++i) {
            const bool defects = i % 3 == 0;
            query.addBindValue(uptime);
            query.addBindValue(i);
            query.addBindValue(QStringLiteral("M%1,WO").arg(i));
            query.addBindValue(QStringLiteral("宽度1:12.5"));
            query.addBindValue(QStringLiteral("[{\"idx\":0,\"position\":5.3,\"status\":%1,\"value\":2.5},"
                                              "{\"idx\":1,\"position\":-1,\"status\":true,\"value\":2.4}]")
                                   .arg(defects ? QStringLiteral("false") : QStringLiteral("true")));
            query.addBindValue(defects ? QStringLiteral("[{\"idx\":0,\"ngtypes\":[\"划痕\",\"缺角\"],\"position\":0,"
                                                        "\"status\":false}]")
                                       : QStringLiteral("[{\"idx\":0,\"ngtypes\":[],\"position\":0,\"status\":true}]"));
            query.addBindValue(defects ? 0 : 3);
            ok = query.exec();
        }
        ok = ok && db.commit();
        if (!ok)
            qWarning() << "fill failed" << query.lastError().text() << db.lastError().text();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

QLabel *total(QDialog *dialog) { return dialog->findChild<QLabel *>(QStringLiteral("lbTotal")); }

bool waitForTotal(QDialog *dialog, int rows)
{
    const QString text = QStringLiteral("共%1条").arg(rows);
    QDeadlineTimer deadline(300000);
    while (total(dialog)->text() != text && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return total(dialog)->text() == text;
}

} // namespace

class ReliabilityReportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_big;
    QString m_small;
    static constexpr int kBigRows = 100000;
    static constexpr int kSmallRows = 30;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        m_big = m_dir.filePath(QStringLiteral("big.db"));
        m_small = m_dir.filePath(QStringLiteral("small.db"));
        QVERIFY(fill(m_big, kBigRows));
        QVERIFY(fill(m_small, kSmallRows));
    }

    void openQueryDestroy()
    {
        const int dialogs = envCount("TLV_DIALOGS", 30);
        // One full round first: the thread pool, the SQLite driver and the fonts settle.
        {
            ReportTable warm(m_big);
            QVERIFY(waitForTotal(&warm, kBigRows));
        }
        QThreadPool::globalInstance()->waitForDone();
        const long threadsBefore = threads();
        const long rssBefore = rssKiB();

        int interrupted = 0;
        for (int i = 0; i < dialogs; ++i) {
            if (i % 3 == 0) {
                // Destroyed as soon as the first batch has shown that the query runs.
                auto dialog = std::make_unique<ReportTable>(m_big);
                auto *view = dialog->findChild<QTableView *>(QStringLiteral("tblWidProduct"));
                QDeadlineTimer deadline(60000);
                while (view->model()->rowCount() == 0 && !deadline.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                QVERIFY(view->model()->rowCount() > 0);
                if (view->model()->rowCount() < kBigRows)
                    ++interrupted;
            } else {
                ReportTable dialog(m_small);
                QVERIFY(waitForTotal(&dialog, kSmallRows));
                // A second query from the find button on the same worker.
                QTest::mouseClick(dialog.findChild<QWidget *>(QStringLiteral("btnFind")), Qt::LeftButton);
                QVERIFY(waitForTotal(&dialog, kSmallRows));
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // QThread::wait() returns once the thread's function is done; the detached pthread
        // may still be on its way out for a moment.
        QDeadlineTimer settle(5000);
        while (threads() > threadsBefore && !settle.hasExpired())
            QThread::msleep(10);
        const long threadsAfter = threads();
        const long rssAfter = rssKiB();
        qInfo("dialogs %d (%d destroyed mid-query), threads %ld -> %ld, RSS %ld -> %ld KiB (%+ld KiB)", dialogs,
              interrupted, threadsBefore, threadsAfter, rssBefore, rssAfter, rssAfter - rssBefore);
        QVERIFY(interrupted > 0);
        QVERIFY2(threadsAfter <= threadsBefore, "a thread outlived its dialog");
        QVERIFY2(!kMeasureRss || rssAfter - rssBefore < 10 * 1024, "resident memory grew by 10 MB or more");
    }

    void chartRefresh()
    {
        const int refreshes = envCount("TLV_REFRESHES", 500);
        ReportTable dialog(m_small);
        QVERIFY(waitForTotal(&dialog, kSmallRows));
        auto *view = dialog.findChild<QTableView *>(QStringLiteral("tblWidProduct"));
        auto *barHost = dialog.findChild<QWidget *>(QStringLiteral("widBarChart"));
        auto *pieHost = dialog.findChild<QWidget *>(QStringLiteral("widChart"));
        QChart *bar = barHost->findChild<QChartView *>()->chart();
        QChart *pie = pieHost->findChild<QChartView *>()->chart();
        QCOMPARE(pie->series().size(), 1);

        const long rssBefore = rssKiB();
        int withDefects = 0;
        for (int i = 0; i < refreshes; ++i) {
            // Rows 0, 3, 6... carry defects; the others are clean.
            const int row = i % kSmallRows;
            emit view->clicked(view->model()->index(row, 0));
            const bool defects = row % 3 == 0;
            withDefects += defects;
            QCOMPARE(bar->series().size(), defects ? 1 : 0);
            QCOMPARE(bar->axes(Qt::Horizontal).size(), defects ? 1 : 0);
            QCOMPARE(bar->axes(Qt::Vertical).size(), defects ? 1 : 0);
            if (i % 64 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const long rssAfter = rssKiB();
        qInfo("chart refreshes %d (%d with defects), RSS %ld -> %ld KiB", refreshes, withDefects, rssBefore, rssAfter);
        QCOMPARE(pie->series().size(), 1);
        QVERIFY2(!kMeasureRss || rssAfter - rssBefore < 10 * 1024, "resident memory grew by 10 MB or more");
    }
};

QTEST_MAIN(ReliabilityReportTest)
#include "tst_reliability_report.moc"
