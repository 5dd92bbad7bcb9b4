// The product database under faults: missing folder, a file the process may not write, a file
// that is no database, a full disk. The panel has to go on judging and showing products, log
// each failure on its stream and never take down the host; rows stored before stay intact.
#include "Custom_TALVORIN.h"
#include "TestHost.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QList<int> stored;
    QList<int> failed;
    QMap<int, QPair<QString, int>> shown; // pid -> label, table rows
    QString log;                         // "<type>: <message>" per line
    bool done = false;
};

// What the writer feeds product <pid> with, and so what the panel has to show for it.
QString expectedLabel(int pid)
{
    return pid % 3 == 0 || pid % 5 == 0 ? QStringLiteral("NG") : QStringLiteral("OK");
}
int expectedRows(int pid)
{
    return 1 + pid % 4;
}

Run runWriter(const QString &base, int firstPid, int count, const QStringList &extra = {})
{
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{type}: %{message}"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), base);
    writer.setProcessEnvironment(env);
    writer.start(QStringLiteral(TLV_WRITER),
                 QStringList { QStringLiteral("--base"), base, QStringLiteral("--first-pid"),
                               QString::number(firstPid), QStringLiteral("--count"), QString::number(count) }
                     + extra);
    Run run;
    if (!writer.waitForFinished(120000))
        writer.kill();
    writer.waitForFinished();
    run.exitStatus = writer.exitStatus();
    run.exitCode = writer.exitCode();
    run.log = QString::fromUtf8(writer.readAllStandardError());
    const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.split(' ');
        if (words.value(0) == "stored")
            run.stored << words.value(1).toInt();
        else if (words.value(0) == "failed")
            run.failed << words.value(1).toInt();
        else if (words.value(0) == "shown" && words.size() == 4)
            run.shown.insert(words.at(1).toInt(), { QString::fromUtf8(words.at(2)), words.at(3).toInt() });
        else if (words.value(0) == "done")
            run.done = true;
    }
    return run;
}

struct Snapshot
{
    QString integrity;
    QStringList rows;
    QList<int> pids;
};

Snapshot snapshot(const QString &file)
{
    Snapshot shot;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                shot.integrity = query.value(0).toString();
            query.exec(QStringLiteral("select * from product_data_new order by id"));
            while (query.next()) {
                QStringList fields;
                for (int i = 0; i < 8; ++i)
                    fields << query.value(i).toString();
                shot.rows << fields.join(QLatin1Char('|'));
                shot.pids << query.value(2).toInt();
            }
        } else {
            shot.integrity = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    return shot;
}

} // namespace

class ReliabilityStorageTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString base() const { return m_dir->path(); }
    QString dbFile() const { return m_dir->filePath(QStringLiteral("DectDB/TLV.db")); }

    // Every product shown as judged, whatever became of its row.
    static void checkShown(const Run &run, int firstPid, int count)
    {
        QCOMPARE(run.shown.size(), count);
        for (int pid = firstPid; pid < firstPid + count; ++pid) {
            QCOMPARE(run.shown.value(pid).first, expectedLabel(pid));
            QCOMPARE(run.shown.value(pid).second, expectedRows(pid));
        }
    }

    void storeSome(int count)
    {
        const Run run = runWriter(base(), 1, count);
        QVERIFY(run.done);
        QCOMPARE(run.stored.size(), count);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(base()).mkpath(QStringLiteral("DectDB")));
    }

    void folderMissing()
    {
        QVERIFY(QDir(base()).rmdir(QStringLiteral("DectDB")));
        static QStringList log;
        log.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &message) {
                static const char *const names[] = { "debug", "warning", "critical", "fatal", "info" };
                log << QStringLiteral("%1: %2").arg(QLatin1String(names[type]), message);
            });
        {
            TestHost host;
            host.base = base();
            host.data = QStringLiteral(".");
            Custom_TALVORIN prototype;
            std::unique_ptr<PluginWidget> panel(prototype.create(&host));
            auto *label = panel->findChild<QLabel *>();
            auto *table = panel->findChild<QTableWidget *>();
            const auto cycle = [&](double diameter) {
                emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
                emit host.cameraDetectionCompleted(TestHost::hole(diameter, 1.0, 3.0));
                emit host.cameraDetectionCompleted(TestHost::hole(2.0, 1.0, 3.0));
                emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
            };
            cycle(2.5);
            QCOMPARE(label->text(), QStringLiteral("OK"));
            QCOMPARE(table->rowCount(), 2);
            cycle(7.0);
            QCOMPARE(label->text(), QStringLiteral("NG"));
            QCOMPARE(table->item(0, 1)->text(), QStringLiteral("NG"));

            // The folder appearing later gives an empty file without the table: still no row.
            QVERIFY(QDir(base()).mkpath(QStringLiteral("DectDB")));
            cycle(2.0);
            QCOMPARE(label->text(), QStringLiteral("OK"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
        qInstallMessageHandler(previous);

        QVERIFY(log.filter(QRegularExpression(QStringLiteral("^debug: Error: Unable to open database"))).size() == 1);
        QCOMPARE(log.filter(QStringLiteral("critical: FilterGroup DB Open failed.")).size(), 2);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^critical: pid: .* Error: Unable to insert data"))).size(), 1);
        QVERIFY(log.filter(QStringLiteral("fatal:")).isEmpty());
    }

    void fileReadOnly_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("folder writable") << true << false;
        // A write-ahead-journal database cannot even be read without creating its -shm file
        // beside it: the table list comes back empty, creating the table fails, and that
        // failure is fatal by design.
        QTest::newRow("folder read-only too") << false << true;
    }

    void fileReadOnly()
    {
        QFETCH(bool, folderWritable);
        QFETCH(bool, fatal);
        storeSome(12);
        const Snapshot before = snapshot(dbFile());
        QCOMPARE(before.rows.size(), 12);

        // Root writes through any file mode: the writer runs as an unprivileged account instead.
        QStringList extra;
        if (geteuid() == 0) {
            if (!getpwnam("nobody"))
                QSKIP("running as root and there is no account 'nobody' to drop to; a read-only file cannot be made");
            extra << QStringLiteral("--user") << QStringLiteral("nobody");
        }
        QVERIFY(::chmod(QFile::encodeName(base()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_dir->filePath(QStringLiteral("DectDB"))).constData(),
                        folderWritable ? 0777 : 0755)
                == 0);
        QVERIFY(::chmod(QFile::encodeName(dbFile()).constData(), 0444) == 0);

        const Run run = runWriter(base(), 100, 8, extra);
        if (fatal) {
            QCOMPARE(run.exitStatus, QProcess::CrashExit);
            QVERIFY(run.shown.isEmpty());
            QVERIFY2(run.log.contains(QStringLiteral("fatal: Create product_data_new table failed: attempt to write a readonly database")),
                     qPrintable(run.log));
            QCOMPARE(snapshot(dbFile()).rows, before.rows);
            return;
        }
        QVERIFY2(run.exitStatus == QProcess::NormalExit && run.done, qPrintable(run.log));
        checkShown(run, 100, 8);
        QVERIFY(run.stored.isEmpty());
        QCOMPARE(run.failed.size(), 8);
        QCOMPARE(run.log.count(QRegularExpression(QStringLiteral("^critical: (pid: .* Error: Unable to insert data|FilterGroup DB Open failed)"),
                                                  QRegularExpression::MultilineOption)),
                 8);

        const Snapshot after = snapshot(dbFile());
        QCOMPARE(after.integrity, QStringLiteral("ok"));
        QCOMPARE(after.rows, before.rows);
    }

    void fileNotADatabase()
    {
        QByteArray noise(16384, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QFile file(dbFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(noise);
        file.close();

        // The panel cannot create its table there and ends the process with a fatal message;
        // that must happen at start-up, before any product, and leave the file alone.
        const Run run = runWriter(base(), 1, 3);
        QCOMPARE(run.exitStatus, QProcess::CrashExit);
        QVERIFY(run.shown.isEmpty());
        QVERIFY2(run.log.contains(QStringLiteral("fatal: Create product_data_new table failed: file is not a database")),
                 qPrintable(run.log));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), noise);
    }

    void diskFull()
    {
        storeSome(20);
        const Snapshot before = snapshot(dbFile());
        QCOMPARE(before.integrity, QStringLiteral("ok"));

        // Files may grow to 64 KiB only; 3 KB barcodes fill the journal after a few products.
        const int count = 40;
        const Run run = runWriter(base(), 100, count,
                                  { QStringLiteral("--fsize"), QString::number(64 * 1024), QStringLiteral("--pad"),
                                    QStringLiteral("3000") });
        QVERIFY2(run.exitStatus == QProcess::NormalExit && run.done, qPrintable(run.log));
        checkShown(run, 100, count);
        QVERIFY2(!run.failed.isEmpty(), "the limit was never reached");
        QCOMPARE(run.stored.size() + run.failed.size(), count);
        QCOMPARE(run.log.count(QRegularExpression(QStringLiteral("^critical: pid: .* Error: Unable to insert data"),
                                                  QRegularExpression::MultilineOption)),
                 run.failed.size());
        qInfo("disk full: %d stored, %d failed", int(run.stored.size()), int(run.failed.size()));

        const Snapshot after = snapshot(dbFile());
        QCOMPARE(after.integrity, QStringLiteral("ok"));
        QCOMPARE(after.rows.mid(0, before.rows.size()), before.rows);
        for (int pid : run.stored)
            QVERIFY2(after.pids.contains(pid), qPrintable(QStringLiteral("stored product %1 missing").arg(pid)));
        for (int pid : run.failed)
            QVERIFY(!after.pids.contains(pid));

        // With room again the same file takes new products.
        const Run again = runWriter(base(), 500, 3);
        QCOMPARE(again.stored.size(), 3);
        QCOMPARE(snapshot(dbFile()).integrity, QStringLiteral("ok"));
    }
};

QTEST_MAIN(ReliabilityStorageTest)
#include "tst_reliability_storage.moc"
