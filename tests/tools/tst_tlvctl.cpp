// tlvctl end to end: its exit codes, the exports compared with the report's own workbook, and the
// feed into a real PostgreSQL server (killed feeds, a server that goes away, cells that are no
// JSON) with the retention that must keep what was not sent.
#include "HistoryKeeper.h"
#include "ProductRows.h"
#include "ReadXlsx.h"
#include "ReportWorkbookWriter.h"
#include "ScratchPostgres.h"
#include "SyncMark.h"
#include "TLVDatasWork.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

namespace {

const QDateTime kEnd(QDate(2025, 6, 30), QTime(12, 0));

StoredRow row(const QString &barcode, const QString &diameter, int status = 3, const QString &uptime = {})
{
    return { uptime.isEmpty() ? QStringLiteral("2025-06-30 10:00:00") : uptime, 7, barcode,
        QStringLiteral("L:1.5"), diameter, QStringLiteral("[]"), status };
}

// `n` products stamped one a minute up to `end`, each with `holes` holes, every 7th NG.
QList<StoredRow> products(int n, const QDateTime &end, int holes)
{
    QList<StoredRow> rows;
    // The texts repeat every 700 products: made once, so that filling stays quick under the
    // sanitizers' slow allocation stacks.
    QVector<QString> diameters(700);
    for (int i = 0; i < n; ++i) {
        QString &diameter = diameters[i % 700];
        if (diameter.isEmpty()) {
            diameter = QStringLiteral("[");
            for (int h = 0; h < holes; ++h)
                diameter += QStringLiteral("%1{\"idx\":%2,\"position\":%3,\"status\":%4,\"value\":%5}")
                                .arg(h ? QStringLiteral(",") : QString())
                                .arg(h)
                                .arg(h * 1.5)
                                .arg(QLatin1String((i + h) % 7 ? "true" : "false"))
                                .arg(10 + (i % 100) / 1000.0 + h);
            diameter += QLatin1Char(']');
        }
        rows << StoredRow { end.addSecs(60 * (i - n + 1)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), i,
            QStringLiteral("TLV-%1,WO%2").arg(i % 13).arg(i % 5), QStringLiteral("L:%1").arg(i), diameter,
            QStringLiteral("[]"), i % 7 ? 3 : 2 };
    }
    return rows;
}

} // namespace

class TlvctlTest : public QObject
{
    Q_OBJECT

    ScratchPostgres m_pg;
    QTemporaryDir m_dir;
    int m_files = 0;

    QString newDb()
    {
        const QString path = m_dir.filePath(QStringLiteral("s%1/TLV.db").arg(++m_files));
        QDir().mkpath(QFileInfo(path).path());
        return path;
    }
    static int tlvctl(const QStringList &arguments, QString *log = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(TLVCTL), arguments);
        if (!process.waitForFinished(600000))
            return -1;
        if (log)
            *log = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList syncArgs(const QString &db, const QString &station) const
    {
        return { QStringLiteral("sync"), QStringLiteral("--db"), db, QStringLiteral("--station"), station,
            QStringLiteral("--pg"), m_pg.conninfo() };
    }
    // count(*), count(distinct local_id) and max(local_id) of the station's central rows.
    QString central(const QString &station) const
    {
        return m_pg.query(QStringLiteral("select count(*) || ' ' || count(distinct local_id) || ' ' || "
                                         "coalesce(max(local_id), 0) from tlv_products where station = '%1'")
                              .arg(station));
    }
    static QString local(const QString &db)
    {
        const int n = ProductRows::read(db).size();
        return QStringLiteral("%1 %1 %1").arg(n);
    }

private slots:
    void initTestCase()
    {
        if (ScratchPostgres::binDir().isEmpty())
            QSKIP("PostgreSQL 15's initdb and pg_ctl are missing (Debian: postgresql-15, or set TLV_PG_BIN)");
        QString error;
        QVERIFY2(m_pg.start(&error, { QStringLiteral("fsync=off") }), qPrintable(error));
    }
    void cleanupTestCase() { m_pg.stop(); }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        const QString db = newDb();
        QVERIFY(ProductRows::append(db, { row(QStringLiteral("M,O"), QStringLiteral("[]")) }));
        const QString from = QStringLiteral("2025-06-01 00:00:00");
        QTest::newRow("no command") << QStringList {} << 2;
        QTest::newRow("unknown command") << QStringList { "frob" } << 2;
        QTest::newRow("unknown option") << QStringList { "backup", "--db", db, "--to", "x", "--fast" } << 2;
        QTest::newRow("no such file") << QStringList { "backup", "--db", db + "x", "--to", "x" } << 2;
        QTest::newRow("no --to") << QStringList { "export", "--db", db, "--from", from, "--csv", "x" } << 2;
        QTest::newRow("bad time") << QStringList { "export", "--db", db, "--from", from, "--to",
            "2025-13-01 00:00:00", "--csv", "x" }
                                  << 2;
        QTest::newRow("two outputs") << QStringList { "export", "--db", db, "--from", from, "--to", from,
            "--csv", "x", "--xlsx", "y" }
                                     << 2;
        QTest::newRow("no --pg") << QStringList { "sync", "--db", db, "--station", "L1" } << 2;
        QTest::newRow("bad --follow")
            << QStringList { "sync", "--db", db, "--station", "L1", "--pg", "x", "--follow", "-1" } << 2;
        QTest::newRow("help") << QStringList { "sync", "--help" } << 0;
        QTest::newRow("no server") << QStringList { "sync", "--db", db, "--station", "L1", "--pg",
            "host=/nonexistent" } << 1;
    }
    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QString log;
        QCOMPARE(tlvctl(arguments, &log), status);
        QCOMPARE(log.isEmpty(), status == 0);
    }

    // A second run sends nothing; a run killed anywhere, or a mark left behind the server (a
    // kill between the server's commit and the mark's write), is made good by the next run
    // without a duplicate.
    void syncAgain_data()
    {
        QTest::addColumn<QString>("interruption");
        QTest::newRow("none") << "none";
        QTest::newRow("kill -9 mid-sync") << "kill";
        QTest::newRow("mark behind the server") << "rewind";
    }
    void syncAgain()
    {
        QFETCH(QString, interruption);
        const QString db = newDb();
        const QString station = QStringLiteral("again-") + interruption;
        QVERIFY(ProductRows::append(db, products(60000, kEnd, 3)));
        if (interruption == QLatin1String("kill")) {
#ifdef Q_OS_UNIX
            QProcess sync;
            sync.start(QStringLiteral(TLVCTL), syncArgs(db, station));
            QVERIFY(sync.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(
                SyncMark::read(db).sentUpTo > 0 || sync.state() != QProcess::Running, 120000);
            ::kill(pid_t(sync.processId()), SIGKILL);
            QVERIFY(sync.waitForFinished());
            QVERIFY(SyncMark::read(db).sentUpTo < 60000);
#else
            QSKIP("kill -9 is POSIX");
#endif
        }
        QCOMPARE(tlvctl(syncArgs(db, station)), 0);
        QCOMPARE(central(station), local(db));
        if (interruption == QLatin1String("rewind"))
            QVERIFY(SyncMark::write(db, 12345, station));
        QString log;
        QCOMPARE(tlvctl(syncArgs(db, station), &log), 0);
        QCOMPARE(central(station), local(db));
        QVERIFY2(
            log.contains(interruption == QLatin1String("rewind") ? QStringLiteral("sync: 47655 products sent")
                                                                 : QStringLiteral("sync: 0 products sent")),
            qPrintable(log));
        QCOMPARE(m_pg.query(QStringLiteral("select count(*) from tlv_products where station = '%1' and "
                                           "(diameter is null or jsonb_array_length(diameter) <> 3)")
                                .arg(station)),
            QStringLiteral("0"));
    }

    // The station goes on producing while the server is down; the following feed waits and sends
    // the backlog once the server is back.
    void serverRestart()
    {
#ifndef Q_OS_UNIX
        QSKIP("stops the feed with SIGTERM");
#else
        const QString db = newDb();
        const QString station = QStringLiteral("restart");
        QVERIFY(ProductRows::append(db, products(100, kEnd, 20)));
        QProcess sync;
        sync.start(QStringLiteral(TLVCTL),
            syncArgs(db, station) << QStringLiteral("--follow") << QStringLiteral("0.2"));
        // Without it the state stays Starting until the event loop runs, which the first try of
        // the compare below may never do when the feed is quick.
        QVERIFY(sync.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(central(station), local(db), 60000);
#ifdef Q_OS_LINUX
        // The feed yields the cores to the panel.
        QCOMPARE(::getpriority(PRIO_PROCESS, id_t(sync.processId())), 10);
#endif
        QVERIFY(m_pg.stop());
        // Products made while the server is down: the feed fails on them, again after its pause,
        // and is still there.
        QString log;
        for (int tries = 1; tries <= 2; ++tries) {
            QVERIFY(ProductRows::append(
                db, QVector<StoredRow>(40, row(QStringLiteral("M,O"), QStringLiteral("[]"))).toList()));
            QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromUtf8(sync.readAllStandardError()))
                                         .count(QStringLiteral("the server failed"))
                        >= tries
                    || sync.state() != QProcess::Running,
                60000);
        }
        QVERIFY2(sync.state() == QProcess::Running, qPrintable(log));
        QString error;
        QVERIFY2(m_pg.start(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(central(station), local(db), 60000);
        sync.terminate();
        QVERIFY(sync.waitForFinished(60000));
        QCOMPARE(sync.exitCode(), 0);
        log += QString::fromUtf8(sync.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("answers again")), qPrintable(log));
#endif
    }

    // Every row arrives: what the server's jsonb takes goes there, anything else stays as text.
    void jsonCells_data()
    {
        QTest::addColumn<QString>("diameter");
        QTest::addColumn<bool>("parses");
        QTest::newRow("holes") << "[{\"idx\":0,\"position\":5.3,\"status\":true,\"value\":12.5}]" << true;
        QTest::newRow("cut short") << "[{\"idx\":0,\"posi" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("escaped NUL") << "[\"a\\u0000\"]" << false;
        QTest::newRow("tab, newline, backslash") << "[\"a\\tb\\\\c\"]\n" << true;
        QTest::newRow("raw tab in a text") << "[\"a\tb\"]" << false;
    }
    void jsonCells()
    {
        QFETCH(QString, diameter);
        QFETCH(bool, parses);
        const QString db = newDb();
        const QString station = QStringLiteral("json-") + QTest::currentDataTag();
        const QString barcode = QStringLiteral("物料\t1,\\订单\n2");
        QVERIFY(ProductRows::append(db, { row(barcode, diameter) }));
        QCOMPARE(tlvctl(syncArgs(db, station)), 0);
        const QString sql = QStringLiteral("select %1 from tlv_products where station = '%2'")
                                .arg(QStringLiteral("%1"), station);
        QCOMPARE(
            m_pg.query(sql.arg(QStringLiteral("diameter is not null"))), QLatin1String(parses ? "t" : "f"));
        QCOMPARE(
            m_pg.query(sql.arg(QStringLiteral("diameter_raw is null"))), QLatin1String(parses ? "t" : "f"));
        if (parses)
            QCOMPARE(m_pg.query(sql.arg(QStringLiteral("diameter = '%1'::jsonb").arg(diameter))),
                QStringLiteral("t"));
        else
            QCOMPARE(m_pg.query(sql.arg(QStringLiteral("diameter_raw = $$%1$$").arg(diameter))),
                QStringLiteral("t"));
        QCOMPARE(m_pg.query(sql.arg(QStringLiteral("barcode = $$%1$$").arg(barcode))), QStringLiteral("t"));
    }

    // Retention deletes old products only up to the feed's mark where the feed keeps one.
    void retentionKeepsUnsent_data()
    {
        QTest::addColumn<QByteArray>("mark");
        QTest::addColumn<int>("kept");
        QTest::newRow("no feed") << QByteArray() << 0;
        QTest::newRow("sent up to 400") << QByteArray("tlv-sync 1\nsent_up_to=400\nstation=L1\n") << 600;
        QTest::newRow("unreadable mark") << QByteArray("garbage") << 1000;
    }
    void retentionKeepsUnsent()
    {
        QFETCH(QByteArray, mark);
        QFETCH(int, kept);
        const QString db = newDb();
        QVERIFY(ProductRows::append(db, products(1000, QDateTime::currentDateTime().addDays(-60), 2)));
        if (!mark.isNull()) {
            QFile file(SyncMark::pathFor(db));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(mark) == mark.size());
        }
        auto owner = std::make_unique<QObject>();
        HistoryKeeper *keeper = HistoryKeeper::start(db, 30, owner.get());
        QSignalSpy retired(keeper, &HistoryKeeper::retired);
        QVERIFY(retired.wait(60000));
        owner.reset();
        const QList<StoredRow> rows = ProductRows::read(db);
        QCOMPARE(rows.size(), kept);
    }

    // The workbook is the report dialog's for the same find, cell for cell; the CSV has the same
    // columns.
    void exportXlsx_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("search");
        QTest::newRow("ten days") << "2025-06-20 12:00:00"
                                  << "2025-06-30 12:00:00"
                                  << "";
        QTest::newRow("a day, searched") << "2025-06-29 00:00:00"
                                         << "2025-06-29 23:59:59"
                                         << "WO";
        QTest::newRow("nothing") << "2024-01-01 00:00:00"
                                 << "2024-01-02 00:00:00"
                                 << "";
    }
    void exportXlsx()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, search);
        const QString db = newDb();
        QVERIFY(ProductRows::append(db, products(3000, kEnd, 20)));
        QVERIFY(ProductRows::append(db,
            { row(QStringLiteral(",WO\"1"), "[{\"idx\":2,\"position\":1,\"status\":false,\"value\":3.5}]", 0,
                  to),
                row(QStringLiteral("X"), QStringLiteral("not json"), 7, to) }));

        ReportWorkbookWriter::Products dialog;
        TLVDatasWork worker(db);
        connect(&worker, &TLVDatasWork::Signal_FindResult, this,
            [&](bool, const QList<std::shared_ptr<tlv::ProductInfo>> &batch) {
                for (const auto &product : batch)
                    dialog.append(product);
            });
        worker.Slot_FindHistory(from, to, search);
        const QString expected = m_dir.filePath(QStringLiteral("dialog.xlsx"));
        QVERIFY(ReportWorkbookWriter::write(expected, dialog));

        const QString out = m_dir.filePath(QStringLiteral("tlvctl.xlsx"));
        QStringList arguments { "export", "--db", db, "--from", from, "--to", to, "--xlsx", out };
        if (!search.isEmpty())
            arguments << QStringLiteral("--search") << search;
        QCOMPARE(tlvctl(arguments), 0);
        const QJsonObject book = readBook(out);
        QVERIFY(!book.isEmpty());
        QCOMPARE(book, readBook(expected));
    }

    void exportCsv()
    {
        const QString db = newDb();
        QVERIFY(ProductRows::append(db,
            { row(QStringLiteral("物料\"A\",订单\n1"),
                  "[{\"idx\":1,\"position\":1,\"status\":false,\"value\":3.5}]", 0),
                row(QStringLiteral("M1"), "[{\"idx\":0,\"position\":1,\"status\":true,\"value\":2}]", 3),
                row(QStringLiteral(""), QStringLiteral("[]"), 7) }));
        const QString out = m_dir.filePath(QStringLiteral("out.csv"));
        QCOMPARE(tlvctl({ "export", "--db", db, "--from", "2025-06-30 00:00:00", "--to",
                     "2025-06-30 23:00:00", "--csv", out }),
            0);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
            QByteArray("\xEF\xBB\xBF"
                       "Time,ProductID,Material number,Order number,Result,Length,Diameter,\r\n"
                       "2025-06-30 10:00:00,7,\"物料\"\"A\"\"\",\"订单\n1\",尺寸NG、外观NG,L:1.5,,3.5\r\n"
                       "2025-06-30 10:00:00,7,M1,,OK,L:1.5,2,\r\n"
                       "2025-06-30 10:00:00,7,,,7,L:1.5,,\r\n"));
    }
};

QTEST_GUILESS_MAIN(TlvctlTest)
#include "tst_tlvctl.moc"
