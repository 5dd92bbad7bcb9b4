// Whole-file copies of the product database. A byte copy of TLV.db alone, without its -wal and
// -shm files, holds what the store has folded back: every product once the store is gone, and
// the older ones while it runs. DatabaseBackup copies a database another thread keeps filling
// as one snapshot, and keeps an older copy when it fails.
#include "DatabaseBackup.h"
#include "HistoryKeeper.h"
#include "ProductStore.h"
#include "ProductTable.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

QStringList warnings;
QtMessageHandler previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) // a line per stored product
        return;
    if (type != QtInfoMsg)
        warnings << message;
    previous(type, context, message);
}

// The first field of each row of `sql`, on a connection of the test's own to `path`.
QStringList query(const QString &path, const QString &sql)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (!db.open() || !q.exec(sql))
            values << QStringLiteral("error: ") + q.lastError().text() + db.lastError().text();
        while (q.next())
            values << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return values;
}

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Rows of "count min max" ids: a copy of one moment holds ids 1 to n, none missing.
QStringList ids(const QString &path)
{
    return query(
        path, QStringLiteral("select count(*) || ' ' || min(id) || ' ' || max(id) from product_data_new"));
}

StoredRow product(int pid, int size = 10)
{
    return StoredRow { QStringLiteral("2024-05-06 14:03:27"), pid, QStringLiteral("M,O"),
        QString(size, QLatin1Char('s')), QStringLiteral("[]"), QStringLiteral("[]"), 3 };
}

// Stores products one transaction each on a connection of its own until stopped.
class Writer : public QThread
{
public:
    explicit Writer(const QString &path)
        : m_path(path)
    {
    }
    QAtomicInt committed;
    QAtomicInt stop;
    QString error;

protected:
    void run() override
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=20000"));
            db.setDatabaseName(m_path);
            QSqlQuery insert(db);
            if (!db.open() || !insert.exec(QStringLiteral("PRAGMA synchronous=OFF"))
                || !insert.prepare(QLatin1String(ProductTable::insertSql)))
                error = insert.lastError().text() + db.lastError().text();
            while (error.isEmpty() && !stop.loadAcquire()) {
                // A page of its own each, so that a copy takes several steps.
                const StoredRow row = product(committed.loadAcquire() + 1, 3000);
                for (const QVariant &value :
                    { QVariant(row.uptime), QVariant(row.pid), QVariant(row.barcode), QVariant(row.psize),
                        QVariant(row.diameter), QVariant(row.appearance), QVariant(row.status) })
                    insert.addBindValue(value);
                if (!insert.exec())
                    error = insert.lastError().text();
                else
                    committed.fetchAndAddOrdered(1);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    }

private:
    QString m_path;
};

} // namespace

class WholeFileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previous = qInstallMessageHandler(collect); }
    void cleanup()
    {
        QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
        QCOMPARE(warnings, QStringList());
    }

    void storeFoldsLogBack_data()
    {
        QTest::addColumn<int>("products");
        QTest::addColumn<QString>("moment");
        QTest::newRow("a thousand products") << ProductStore::checkpointProducts << "count";
        QTest::newRow("the interval passed") << 3 << "interval";
        QTest::newRow("store destroyed") << 5 << "destroyed";
        QTest::newRow("history keeper running") << 3 << "keeper";
    }

    void storeFoldsLogBack()
    {
        QFETCH(int, products);
        QFETCH(QString, moment);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("TLV.db"));
        const QString alone = dir.filePath(QStringLiteral("alone.db"));
        const auto copyAlone = [&]() {
            QFile::remove(alone);
            QFile::copy(db, alone);
            return ids(alone);
        };
        auto store = std::make_unique<ProductStore>();
        QVERIFY(store->open(db));
        // SQLite's own checkpoints off: what reaches the file is the store's doing.
        QVERIFY(QSqlQuery(store->database()).exec(QStringLiteral("PRAGMA wal_autocheckpoint=0")));
        store->setCheckpointInterval(moment == QLatin1String("interval") ? 50 : 3600000);
        if (moment == QLatin1String("keeper"))
            store->setLogFoldedElsewhere(true);
        for (int pid = 1; pid <= products; ++pid)
            QVERIFY(store->store(product(pid)));
        // Started once the products are in: its first slice takes them all and folds them back at
        // once (products indexed after a fold wait for the next one, up to 30 s later).
        QObject keeperOwner;
        if (moment == QLatin1String("keeper"))
            QVERIFY(HistoryKeeper::start(db, -1, &keeperOwner));
        // The connection "tlv" stays open, so SQLite does not fold the log back on closing it.
        if (moment == QLatin1String("destroyed"))
            store.reset();
        const QStringList all { QStringLiteral("%1 1 %1").arg(products) };
        if (moment == QLatin1String("interval") || moment == QLatin1String("keeper"))
            QTRY_COMPARE(copyAlone(), all);
        else
            QCOMPARE(copyAlone(), all);
        QCOMPARE(query(alone, QStringLiteral("pragma integrity_check")), QStringList { "ok" });
    }

    void backupWhileWriting_data()
    {
        QTest::addColumn<QString>("journal");
        QTest::newRow("write-ahead log") << "wal";
        QTest::newRow("rollback journal") << "delete";
    }

    void backupWhileWriting()
    {
        QFETCH(QString, journal);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("TLV.db"));
        const QString target = dir.filePath(QStringLiteral("saved/TLV-copy.db"));
        QCOMPARE(query(source, QStringLiteral("PRAGMA journal_mode=") + journal), QStringList { journal });
        QCOMPARE(query(source, QLatin1String(ProductTable::createSql)), QStringList());
        Writer writer(source);
        writer.start();
        const auto stopWriter = qScopeGuard([&writer] {
            writer.stop.storeRelease(1);
            writer.wait();
        });
        QTRY_VERIFY_WITH_TIMEOUT(writer.committed.loadAcquire() >= 3000 || writer.isFinished(), 60000);
        // The second copy replaces the first.
        for (int round = 0; round < 2 && writer.isRunning(); ++round) {
            const int before = writer.committed.loadAcquire();
            QString error;
            QVERIFY2(DatabaseBackup::copy(source, target, &error), qPrintable(error));
            QVERIFY(!QFileInfo::exists(target + QStringLiteral("-wal")));
            const QStringList counted = ids(target).value(0).split(QLatin1Char(' '));
            QCOMPARE(counted.size(), 3);
            QCOMPARE(counted.at(1), QStringLiteral("1"));
            QCOMPARE(counted.at(2), counted.at(0));
            QVERIFY2(counted.at(0).toInt() >= before, qPrintable(counted.join(' ')));
            QCOMPARE(query(target, QStringLiteral("pragma integrity_check")), QStringList { "ok" });
        }
        writer.stop.storeRelease(1);
        writer.wait();
        QCOMPARE(writer.error, QString());
        QCOMPARE(QDir(dir.filePath(QStringLiteral("saved"))).entryList(QDir::Files),
            QStringList { "TLV-copy.db" });
    }

    void backupKeepsTarget_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such file") << "missing.db"
                                      << "is no database file";
        QTest::newRow("not a database") << "noise.db"
                                        << "file is not a database";
        QTest::newRow("the target itself") << "old.db"
                                           << "itself";
    }

    void backupKeepsTarget()
    {
        QFETCH(QString, source);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QFile noise(dir.filePath(QStringLiteral("noise.db")));
        QVERIFY(noise.open(QIODevice::WriteOnly) && noise.write(QByteArray(8192, 'x')) == 8192);
        noise.close();
        const QString target = dir.filePath(QStringLiteral("old.db"));
        QCOMPARE(query(target, QStringLiteral("create table kept (x)")), QStringList());
        const QByteArray before = bytes(target);
        QString error;
        QVERIFY(!DatabaseBackup::copy(dir.filePath(source), target, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QCOMPARE(bytes(target), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList { "noise.db", "old.db" }));
    }
};

QTEST_GUILESS_MAIN(WholeFileTest)
#include "tst_wholefile.moc"
