// The station loses power to its process at any moment: a writer is killed with SIGKILL again
// and again on the same database, which must stay intact and keep every product whose insert
// had been reported as done.
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

class ReliabilityKillTest : public QObject
{
    Q_OBJECT

    struct Check
    {
        QString integrity;
        QSet<int> pids;
        QString error;
    };

    static Check inspect(const QString &file)
    {
        Check check;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
            db.setDatabaseName(file);
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                    check.integrity = query.value(0).toString();
                else
                    check.error = query.lastError().text();
                if (query.exec(QStringLiteral("select pid from product_data_new")))
                    while (query.next())
                        check.pids.insert(query.value(0).toInt());
            } else {
                check.error = db.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
        return check;
    }

private slots:
    void killedWriterLosesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("DectDB")));
        const QString file = dir.filePath(QStringLiteral("DectDB/TLV.db"));

        const int kills = qEnvironmentVariableIsSet("TLV_KILLS") ? qEnvironmentVariableIntValue("TLV_KILLS") : 200;
        const quint32 seed = qEnvironmentVariableIsSet("TLV_SEED") ? quint32(qEnvironmentVariableIntValue("TLV_SEED"))
                                                                   : QRandomGenerator::global()->generate();
        qInfo("seed %u (set TLV_SEED to repeat)", seed);
        QRandomGenerator random(seed);

        QSet<int> reported;
        int killed = 0;
        for (int round = 0; round < kills; ++round) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(TLV_WRITER),
                         { QStringLiteral("--base"), dir.path(), QStringLiteral("--first-pid"),
                           QString::number(round * 100000 + 1) });
            QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
            // Mostly during inserts (after its first report, whatever the machine's speed), now
            // and then while it is still starting and opening the database.
            if (random.bounded(10) == 0) {
                QThread::msleep(ulong(random.bounded(60)));
            } else {
                QVERIFY(writer.waitForReadyRead(60000));
                QThread::msleep(ulong(random.bounded(100)));
            }
            QCOMPARE(writer.state(), QProcess::Running);
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished());
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
            ++killed;

            const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
            QSet<int> stored;
            for (const QByteArray &line : lines)
                if (line.startsWith("stored "))
                    stored.insert(line.mid(7).toInt());
            reported.unite(stored);

            const Check check = inspect(file);
            QVERIFY2(check.error.isEmpty(), qPrintable(check.error));
            QCOMPARE(check.integrity, QStringLiteral("ok"));
            QSet<int> lost = stored;
            lost.subtract(check.pids);
            QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("round %1 lost %2 of %3 products")
                                                     .arg(round)
                                                     .arg(lost.size())
                                                     .arg(stored.size())));
        }

        const Check last = inspect(file);
        QSet<int> lost = reported;
        lost.subtract(last.pids);
        qInfo("kills %d, products stored %d (rows %d), products lost %d", killed, int(reported.size()),
              int(last.pids.size()), int(lost.size()));
        QCOMPARE(int(lost.size()), 0);
        // The kills must have hit running inserts, not only start-ups.
        QVERIFY(reported.size() > kills);
    }
};

QTEST_GUILESS_MAIN(ReliabilityKillTest)
#include "tst_reliability_kill.moc"
