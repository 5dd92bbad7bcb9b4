// The station loses power to its process at any moment: a writer is killed with SIGKILL again
// and again on the same database, which must stay intact and keep every product whose insert
// had been reported as done.
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

class ReliabilityKillTest : public QObject
{
    Q_OBJECT

    // integrity_check's verdict, then the pids of the file.
    static QPair<QString, QSet<int>> inspect(const QString &file)
    {
        QPair<QString, QSet<int>> found;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
            db.setDatabaseName(file);
            QSqlQuery query(db.open() ? db : QSqlDatabase());
            if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                found.first = query.value(0).toString();
            if (query.exec(QStringLiteral("select pid from product_data_new")))
                while (query.next())
                    found.second.insert(query.value(0).toInt());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
        return found;
    }

private slots:
    void killedWriterLosesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("DectDB")));
        const QString file = dir.filePath(QStringLiteral("DectDB/TLV.db"));
        const int kills
            = qEnvironmentVariableIsSet("TLV_KILLS") ? qEnvironmentVariableIntValue("TLV_KILLS") : 30;
        QRandomGenerator random(20240506);
        QSet<int> reported;
        for (int round = 0; round < kills; ++round) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(TLV_WRITER),
                { QStringLiteral("--base"), dir.path(), QStringLiteral("--first-pid"),
                    QString::number(round * 100000 + 1) });
            QVERIFY(writer.waitForStarted());
            // Mostly during inserts, now and then while it is still opening the database.
            if (random.bounded(10) != 0)
                QVERIFY(writer.waitForReadyRead(60000));
            QThread::msleep(ulong(random.bounded(60)));
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished());
            for (const QByteArray &line : writer.readAllStandardOutput().split('\n'))
                if (line.startsWith("stored "))
                    reported.insert(line.mid(7).toInt());
            const auto found = inspect(file);
            QCOMPARE(found.first, QStringLiteral("ok"));
            QVERIFY2(found.second.contains(reported),
                qPrintable(QStringLiteral("round %1 lost products").arg(round)));
        }
        QVERIFY(reported.size() > kills); // the kills hit running inserts, not only start-ups
    }
};

QTEST_GUILESS_MAIN(ReliabilityKillTest)
#include "tst_reliability_kill.moc"
