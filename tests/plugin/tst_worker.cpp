// TLVDatasWork on a real QThread against real SQLite files.

#include "FindSequence.h"
#include "MessageGuard.h"
#include "ProductRows.h"
#include "ReadBatch.h"
#include "RecordBuilder.h"
#include "TLVDatasWork.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

using Batch = QList<std::shared_ptr<tlv::ProductInfo>>;

namespace {

// A stored product stamped `uptime` with empty item lists; its pid is set by rowsAt().
StoredRow row(const QString &uptime)
{
    return StoredRow { uptime, 0, QStringLiteral("TLV-100200,WO240001"), QStringLiteral("L:1"),
        QStringLiteral("[]"), QStringLiteral("[]"), 3 };
}

// n such products, pid 1 to n.
QList<StoredRow> rowsAt(const QString &uptime, int n)
{
    QList<StoredRow> rows;
    for (int i = 0; i < n; ++i) {
        rows.append(row(uptime));
        rows.last().pid = i + 1;
    }
    return rows;
}

const QString kDay = QStringLiteral("2024-05-06");

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("TLV.db"));
        m_received.clear();
        m_namesBefore = QSqlDatabase::connectionNames();
    }
    void cleanup()
    {
        stopWorker();
        // No warning either (e.g. about a connection used outside its thread).
        const QString unexpected = MessageGuard::takeUnexpected();
        // The worker's connection was added and removed on its own thread.
        QCOMPARE(QSqlDatabase::connectionNames(), m_namesBefore);
        QCOMPARE(unexpected, QString());
    }

    void batches_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("none") << 0 << QList<int> { 0 };
        QTest::newRow("101") << 101 << QList<int> { 101, 0 };
        QTest::newRow("250") << 250 << QList<int> { 101, 101, 48 };
        // Rows are built a few batches at a time and still come out 101 by 101.
        QTest::newRow("505") << 505 << QList<int> { 101, 101, 101, 101, 101, 0 };
        QTest::newRow("850") << 850 << QList<int> { 101, 101, 101, 101, 101, 101, 101, 101, 42 };
    }
    void batches()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, sizes);
        QList<StoredRow> stored = rowsAt(kDay + QStringLiteral(" 10:00:00"), rows);
        // Every row's items name its pid, so records built from another row's texts show.
        for (int i = 0; i < rows; ++i) {
            stored[i].diameter
                = QStringLiteral(R"([{"idx":%1,"position":1,"status":true,"value":8}])").arg(i + 1);
            stored[i].appearance
                = QStringLiteral(R"([{"idx":0,"ngtypes":["划伤"],"position":%1,"status":false}])").arg(i + 1);
        }
        QVERIFY(ProductRows::append(m_path, stored));
        startWorker();
        QCOMPARE(QSqlDatabase::connectionNames(), m_namesBefore); // nothing added before a query
        find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"));
        QCOMPARE(int(m_received.size()), sizes.size());
        int pid = 1;
        for (int i = 0; i < sizes.size(); ++i) {
            QCOMPARE(m_received[i].first, i == sizes.size() - 1);
            QCOMPARE(m_received[i].second.size(), sizes.at(i));
            for (const auto &product : m_received[i].second) {
                QCOMPARE(product->pid, pid);
                QCOMPARE(product->id, qint64(pid)); // a fresh file numbers its rows from 1
                QCOMPARE(product->vtHoles.value(0) ? product->vtHoles[0]->idx : 0, pid);
                QCOMPARE(product->vtApes.value(0) ? product->vtApes[0]->position : QString(),
                    QString::number(pid));
                ++pid;
            }
        }
        // The worker keeps nothing once a batch is out.
        std::weak_ptr<tlv::ProductInfo> first = rows ? m_received[0].second.value(0) : nullptr;
        m_received.clear();
        QVERIFY(first.expired());
    }

    void bounds_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QList<int>>("pids");
        // pid 1 at 09:59:59, 2 at 10:00:00, 3 at 10:30:00, 4 at 11:00:00, 5 at 11:00:01
        QTest::newRow("inclusive") << "10:00:00"
                                   << "11:00:00"
                                   << "" << QList<int> { 2, 3, 4 };
        QTest::newRow("one second") << "11:00:00"
                                    << "11:00:00"
                                    << "" << QList<int> { 4 };
        QTest::newRow("start after end") << "11:00:00"
                                         << "10:00:00"
                                         << "" << QList<int> {};
        QTest::newRow("key inside") << "00:00:00"
                                    << "23:59:59"
                                    << "7,WO" << QList<int> { 1, 3 };
        QTest::newRow("key chinese") << "00:00:00"
                                     << "23:59:59"
                                     << "工单" << QList<int> { 3 };
        QTest::newRow("key and range") << "10:00:00"
                                       << "23:59:59"
                                       << "M-77" << QList<int> { 3 };
    }
    void bounds()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, key);
        QFETCH(QList<int>, pids);
        QList<StoredRow> rows;
        for (const char *time : { "09:59:59", "10:00:00", "10:30:00", "11:00:00", "11:00:01" }) {
            rows.append(row(kDay + QLatin1Char(' ') + QLatin1String(time)));
            rows.last().pid = rows.size();
        }
        rows[0].barcode = QStringLiteral("M-77,WO1");
        rows[2].barcode = QStringLiteral("M-77,WO工单3");
        QVERIFY(ProductRows::append(m_path, rows));
        startWorker();
        find(kDay + QLatin1Char(' ') + start, kDay + QLatin1Char(' ') + end, key);
        QCOMPARE(int(m_received.size()), 1);
        QList<int> found;
        for (const auto &product : m_received[0].second)
            found << product->pid;
        QCOMPARE(found, pids);
    }

    void failuresEmitNothing_data()
    {
        QTest::addColumn<bool>("table");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        QTest::newRow("quote in key") << true << "TLV.db"
                                      << "O'Brien"
                                      << "^product_data_new 数据库语句执行失败! .+";
        QTest::newRow("no table") << false << "TLV.db"
                                  << ""
                                  << "^product_data_new 数据库语句执行失败! .*no such table";
        QTest::newRow("cannot open") << false << "no/dir/TLV.db"
                                     << ""
                                     << "^TLVDatasWork::Slot_FindData 数据库打开失败，Error：";
    }
    void failuresEmitNothing()
    {
        QFETCH(bool, table);
        QFETCH(QString, file);
        QFETCH(QString, key);
        QFETCH(QString, message);
        m_path = m_dir->filePath(file);
        if (table)
            QVERIFY(ProductRows::append(m_path, rowsAt(kDay + QStringLiteral(" 10:00:00"), 2)));
        startWorker();
        MessageGuard::ignore(QtCriticalMsg, QRegularExpression(message));
        find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"), key);
        QCOMPARE(int(m_received.size()), 0);
        if (table) { // the connection was closed again: the next query works
            find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"));
            QCOMPARE(m_received.back().second.size(), 2);
        }
    }

    void malformedJson()
    {
        const QString hole0
            = QStringLiteral(R"({"idx":0,"position":5.300000190734863,"status":true,"value":8.0123456})");
        QList<StoredRow> rows = rowsAt(kDay + QStringLiteral(" 10:00:00"), 6);
        rows[0].diameter = QStringLiteral("[{\"idx\":0,"); // not JSON
        rows[1].diameter = hole0; // not an array
        rows[2].diameter = QStringLiteral(
            R"([%1,{"idx":1,"position":1,"status":true},{"idx":2,"position":-1,"status":1,"value":7.93}])")
                               .arg(hole0);
        rows[3].diameter = QString(); // NULL
        rows[4].appearance = QStringLiteral(
            R"([{"idx":0,"ngtypes":["划伤",7],"position":12.5,"status":false},{"idx":1,"position":0,"status":true}])");
        rows[5].appearance = QStringLiteral(R"([{"idx":0,"ngtypes":"划伤","position":1e-5,"status":false}])");
        rows[5].status = 5;
        QVERIFY(ProductRows::append(m_path, rows));
        startWorker();
        find(kDay + QStringLiteral(" 10:00:00"), kDay + QStringLiteral(" 10:00:00"));
        const Batch products = m_received.at(0).second;
        QCOMPARE(products.size(), 6);
        QVERIFY(products[0]->vtHoles.isEmpty() && products[1]->vtHoles.isEmpty()
            && products[3]->vtHoles.isEmpty());
        // The element without "value" is skipped; a numeric status reads NG.
        const auto &holes = products[2]->vtHoles;
        QCOMPARE(holes.size(), 2);
        QCOMPARE(QStringList({ QString::number(holes[0]->idx), holes[0]->position, holes[0]->value }),
            QStringList({ "0", "5.3", "8.01235" }));
        QVERIFY(holes[0]->status);
        QCOMPARE(QStringList({ QString::number(holes[1]->idx), holes[1]->position, holes[1]->value }),
            QStringList({ "2", "-1", "7.93" }));
        QVERIFY(!holes[1]->status);
        QCOMPARE(products[4]->vtApes.size(), 1);
        QCOMPARE(products[4]->vtApes[0]->ngtypes, QStringList({ QStringLiteral("划伤"), QString() }));
        QCOMPARE(products[4]->vtApes[0]->position, QStringLiteral("12.5"));
        QCOMPARE(products[5]->vtApes[0]->ngtypes, QStringList());
        QCOMPARE(products[5]->vtApes[0]->position, QStringLiteral("1e-05"));
        QCOMPARE(products[5]->status, 5);
        QCOMPARE(products[5]->barcode, QStringLiteral("TLV-100200,WO240001"));
        QCOMPARE(products[5]->psize, QStringLiteral("L:1"));
    }

    // Columns are found without case, as SQLite names them; only a stored 3 is an OK product.
    void storedValues_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::newRow("lower case") << "id,uptime,pid,barcode,psize,diameter,appearance,status";
        QTest::newRow("capitals") << "ID,UPTIME,PID,BARCODE,PSIZE,DIAMETER,APPEARANCE,STATUS";
    }
    void storedValues()
    {
        QFETCH(QString, columns);
        const QStringList names = columns.split(QLatin1Char(','));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(m_path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(
                QStringLiteral("create table product_data_new (%1 integer primary key autoincrement, "
                               "%2 text, %3 integer, %4 text, %5 text, %6 text, %7 text, %8 integer)")
                    .arg(names[0], names[1], names[2], names[3], names[4], names[5], names[6], names[7])));
            const QString hole = QStringLiteral(R"([{"idx":4,"position":1,"status":true,"value":8}])");
            for (const char *status : { "3", "2", "4294967299", "-4294967293", "3.4", "3.0", "'3'" })
                QVERIFY(q.exec(QStringLiteral("insert into product_data_new values (null, '%1 10:00:00', 7, "
                                              "'M,W', 'L:1', '%2', '[]', %3)")
                                   .arg(kDay, hole, QLatin1String(status))));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        startWorker();
        find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"));
        QCOMPARE(int(m_received.size()), 1);
        QStringList read;
        for (const auto &product : m_received[0].second)
            read << QStringLiteral("%1 %2 %3 %4 %5 %6")
                        .arg(product->uptime.right(8), QString::number(product->pid), product->barcode,
                            product->psize,
                            QString::number(product->vtHoles.value(0) ? product->vtHoles[0]->idx : -9),
                            QString::number(product->status));
        const QString same = QStringLiteral("10:00:00 7 M,W L:1 4 ");
        QCOMPARE(read,
            (QStringList {
                same + "3", same + "2", same + "-1", same + "-1", same + "-1", same + "3", same + "3" }));
    }

    // A damaged page mid-file fails the statement: logged, the rows before it delivered, no
    // last batch, and the dialog's sequence told why.
    void damagedPage()
    {
        QVERIFY(ProductRows::append(m_path, rowsAt(kDay + QStringLiteral(" 10:00:00"), 3000)));
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 pages = file.size() / 4096;
        QVERIFY(pages > 20);
        QVERIFY(file.seek(pages / 2 * 4096));
        QVERIFY(file.write(QByteArray(4096, '\xff')) == 4096);
        file.close();
        auto sequence = std::make_shared<FindSequence>();
        startWorker(sequence);
        sequence->requestSent();
        MessageGuard::ignore(
            QtCriticalMsg, QRegularExpression("^product_data_new 数据库语句执行失败! .*malformed"));
        find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"));
        int rows = 0;
        for (const auto &batch : m_received) {
            QVERIFY(!batch.first);
            rows += batch.second.size();
        }
        QVERIFY2(rows > 0 && rows < 3000, qPrintable(QString::number(rows)));
        QVERIFY(sequence->latestFailed());
        sequence->requestSent();
        QVERIFY(!sequence->latestFailed());
    }

    // A newer request makes the running query stop; its batches already out are recognised.
    void newerRequestOvertakes_data()
    {
        QTest::addColumn<bool>("midStream");
        QTest::newRow("before it starts") << false;
        QTest::newRow("mid-stream") << true;
    }
    void newerRequestOvertakes()
    {
        QFETCH(bool, midStream);
        QVERIFY(ProductRows::append(m_path, rowsAt(kDay + QStringLiteral(" 10:00:00"), 250)));
        auto sequence = std::make_shared<FindSequence>();
        const QString from = kDay + QStringLiteral(" 00:00:00");
        const QString to = kDay + QStringLiteral(" 23:59:59");
        const QString late = kDay + QStringLiteral(" 10:00:00");
        // Mid-stream, the second request is sent from the GUI thread while the first query waits
        // after emitting its first batch.
        std::atomic<bool> overtake { midStream };
        bool newerSent = false;
        startWorker(sequence, [&] {
            if (!overtake.exchange(false))
                return;
            QMetaObject::invokeMethod(
                this,
                [&] {
                    sequence->requestSent();
                    QMetaObject::invokeMethod(m_worker, "Slot_FindData", Qt::QueuedConnection,
                        Q_ARG(QString, late), Q_ARG(QString, late), Q_ARG(QString, QString()));
                    newerSent = true;
                },
                Qt::BlockingQueuedConnection);
        });
        sequence->requestSent();
        if (!midStream)
            sequence->requestSent();
        QMetaObject::invokeMethod(m_worker, "Slot_FindData", Qt::QueuedConnection, Q_ARG(QString, from),
            Q_ARG(QString, to), Q_ARG(QString, QString()));
        if (midStream)
            QTRY_VERIFY(newerSent);
        else
            find(late, late);
        sync(); // the newer request has run too
        QList<int> accepted;
        for (const auto &batch : m_received) {
            if (sequence->acceptDelivery())
                accepted << batch.second.size() << int(batch.first);
        }
        QCOMPARE(accepted, (QList<int> { 101, 0, 101, 0, 48, 1 }));
        QCOMPARE(int(m_received.size()), QTest::currentDataTag() == QByteArray("mid-stream") ? 4 : 3);
    }

    void interruptedQueryStops()
    {
        QVERIFY(ProductRows::append(m_path, rowsAt(kDay + QStringLiteral(" 10:00:00"), 1000)));
        startWorker(nullptr, [this] { m_thread->requestInterruption(); });
        find(kDay + QStringLiteral(" 00:00:00"), kDay + QStringLiteral(" 23:59:59"));
        QCOMPARE(int(m_received.size()), 1);
        QVERIFY(!m_received[0].first);
    }

    // The records of a read batch are built on two threads and come out in row order; a query stopped
    // meanwhile gets none of them.
    void batchBuilds_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("stopAfter"); // times the query is still wanted; -1 always
        QTest::newRow("one thread, whole") << 15 << -1;
        QTest::newRow("two threads, whole") << 500 << -1;
        QTest::newRow("one thread, stopped at once") << 15 << 0;
        QTest::newRow("two threads, stopped midway") << 500 << 1;
    }
    void batchBuilds()
    {
        QFETCH(int, rows);
        QFETCH(int, stopAfter);
        ReadBatch readBatch;
        for (int i = 0; i < rows; ++i) {
            ReadRow &row = readBatch.append();
            row.pid = i + 1;
            const QByteArray holes
                = QStringLiteral(R"([{"idx":%1,"position":1,"status":true,"value":8}])").arg(i + 1).toUtf8();
            readBatch.setDiameter(row, std::string_view(holes.constData(), size_t(holes.size())));
            readBatch.setAppearance(row, std::string_view("[]"));
        }
        RecordBuilder builder;
        int taken = 0;
        std::vector<Batch> slices;
        builder.start(readBatch);
        const bool built = builder.finish(slices, 101, [&] {
            if (taken++ == 1)
                QThread::msleep(20); // the helper takes rows meanwhile
            return stopAfter < 0 || taken <= stopAfter;
        });
        QCOMPARE(built, stopAfter < 0);
        Batch products;
        for (const Batch &slice : slices) {
            QCOMPARE(slice.size(), qMin(101, rows - products.size()));
            products += slice;
        }
        QCOMPARE(products.size(), built ? rows : 0);
        for (int i = 0; i < products.size(); ++i) {
            QCOMPARE(products[i]->pid, i + 1);
            QCOMPARE(products[i]->vtHoles.value(0) ? products[i]->vtHoles[0]->idx : 0, i + 1);
        }
    }

private:
    // onBatch runs on the worker's thread right after each emission; it is connected before the
    // thread starts.
    void startWorker(std::shared_ptr<FindSequence> sequence = nullptr, std::function<void()> onBatch = {})
    {
        m_thread = new QThread;
        m_worker = new TLVDatasWork(m_path);
        if (sequence)
            m_worker->setFindSequence(sequence);
        connect(m_worker, &TLVDatasWork::Signal_FindResult, this,
            [this](bool completed, Batch batch) { m_received.emplace_back(completed, batch); });
        if (onBatch)
            connect(m_worker, &TLVDatasWork::Signal_FindResult, m_worker, onBatch, Qt::DirectConnection);
        connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_worker->moveToThread(m_thread);
        m_thread->start();
    }
    void stopWorker()
    {
        if (!m_thread)
            return;
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_worker = nullptr; // deleted on its thread by finished
    }
    // Runs the worker's queue dry, then takes its queued emissions.
    void sync()
    {
        QVERIFY(QMetaObject::invokeMethod(
            m_worker, [] {}, Qt::BlockingQueuedConnection));
        QCoreApplication::sendPostedEvents(this);
    }
    void find(const QString &start, const QString &end, const QString &key = QString())
    {
        QMetaObject::invokeMethod(m_worker, "Slot_FindData", Qt::QueuedConnection, Q_ARG(QString, start),
            Q_ARG(QString, end), Q_ARG(QString, key));
        sync();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    QStringList m_namesBefore;
    QThread *m_thread = nullptr;
    TLVDatasWork *m_worker = nullptr;
    std::vector<std::pair<bool, Batch>> m_received;
};

QTEST_MAIN(TestWorker)
#include "tst_worker.moc"
