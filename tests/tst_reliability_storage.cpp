// The product store under the faults of a plant: another writer holding the file, a full disk,
// a file that may not be written, the folder or the file gone, a reopened shared connection.
// No product may be lost: what cannot be stored waits and lands in order, read back from the file.
#include "ProductStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QStringList messages;
QtMessageHandler previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        messages << message;
    previous(type, context, message);
}

ProductRow product(int pid)
{
    // Large enough that every product needs pages of its own.
    return ProductRow { QStringLiteral("2024-05-06 14:03:%1").arg(pid, 2, 10, QLatin1Char('0')), pid,
        QStringLiteral("M,O"), QString(3000, QLatin1Char('s')), QStringLiteral("[]"), QStringLiteral("[]"),
        3 };
}

} // namespace

class ReliabilityStorageTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProductStore> m_store;
    QString file() const { return m_dir->filePath(QStringLiteral("DectDB/TLV.db")); }
    static QString row(int pid) { return QStringLiteral("%1 %2").arg(pid).arg(product(pid).uptime); }
    static QSqlDatabase tlv() { return QSqlDatabase::database(QStringLiteral("tlv")); }

    // The first column of `sql`, run on the test's own connection `name` to the file.
    QStringList run(const QString &sql, const QString &name = QStringLiteral("reader")) const
    {
        if (!QSqlDatabase::contains(name)) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file());
            db.open();
        }
        QSqlQuery query(QSqlDatabase::database(name));
        QStringList values;
        if (!query.exec(sql))
            values << query.lastError().text();
        while (query.next())
            values << query.value(0).toString();
        return values;
    }
    QStringList stored() const
    {
        return run(QStringLiteral("select pid || ' ' || uptime from product_data_new order by id"));
    }

private slots:
    void initTestCase() { previous = qInstallMessageHandler(collect); }

    void init()
    {
        messages.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("DectDB")));
    }

    void cleanup()
    {
        m_store.reset();
        for (const char *name : { "tlv", "reader", "other" })
            QSqlDatabase::removeDatabase(QLatin1String(name));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("sql"); // connection, statement that breaks, statement that heals
        QTest::addColumn<bool>("viaTimer"); // stored by the retry timer, not before the next product
        QTest::newRow("write lock held by another writer")
            << "" << QStringList { "other", "BEGIN IMMEDIATE", "ROLLBACK" } << false;
        QTest::newRow("disk full") << ""
                                   << QStringList { "tlv", "PRAGMA max_page_count=1",
                                          "PRAGMA max_page_count=1073741823" }
                                   << true;
        QTest::newRow("file read-only")
            << "" << QStringList { "tlv", "PRAGMA query_only=1", "PRAGMA query_only=0" } << false;
        QTest::newRow("folder gone") << "folder" << QStringList() << true;
        QTest::newRow("file deleted") << "delete" << QStringList() << false;
        QTest::newRow("connection reopened") << "reopen" << QStringList() << false;
        QTest::newRow("second store on the shared connection") << "second" << QStringList() << false;
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, sql);
        QFETCH(bool, viaTimer);
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        QVERIFY(m_store->store(product(1)));

        std::unique_ptr<ProductStore> second;
        if (!sql.isEmpty()) {
            run(sql.at(1), sql.at(0)); // the products waiting below show it took effect
        } else if (fault == QLatin1String("folder")) {
            QVERIFY(QDir(m_dir->path()).rename(QStringLiteral("DectDB"), QStringLiteral("away")));
        } else if (fault == QLatin1String("delete")) {
            for (const char *suffix : { "", "-wal", "-shm" })
                QFile::remove(file() + QLatin1String(suffix));
        } else if (fault == QLatin1String("reopen")) {
            tlv().close();
            QVERIFY(tlv().open());
        } else {
            second = std::make_unique<ProductStore>();
            QVERIFY(second->open(QStringLiteral("/nonexistent/TLV.db")));
        }
        const bool waits = !sql.isEmpty() || fault == QLatin1String("folder");
        QCOMPARE((second ? second : m_store)->store(product(2)), !waits);
        QCOMPARE(m_store->store(product(3)), !waits);
        if (waits) {
            QCOMPARE(m_store->pending(), 2);
            // Each failure names the product, the file and the driver's reason.
            QVERIFY(!messages.filter(file())
                         .filter(QStringLiteral("pid: 2 "))
                         .filter(QRegularExpression(QStringLiteral("locked|full|readonly|unable to open")))
                         .isEmpty());
        }

        if (!sql.isEmpty())
            run(sql.at(2), sql.at(0));
        if (fault == QLatin1String("folder"))
            QVERIFY(QDir(m_dir->path()).rename(QStringLiteral("away"), QStringLiteral("DectDB")));
        if (viaTimer)
            QTRY_COMPARE_WITH_TIMEOUT(m_store->pending(), 0, 10000);
        QVERIFY(m_store->store(product(4)));
        QCOMPARE(m_store->pending(), 0);
        const QStringList expected { row(1), row(2), row(3), row(4) };
        QCOMPARE(stored(), fault == QLatin1String("delete") ? QStringList(expected.mid(1)) : expected);
        QCOMPARE(run(QStringLiteral("PRAGMA journal_mode")), QStringList { "wal" });
    }

    void shutdown_data()
    {
        QTest::addColumn<bool>("healed");
        QTest::newRow("storage back: stored at shutdown") << true;
        QTest::newRow("still failing: each product logged") << false;
    }

    void shutdown()
    {
        QFETCH(bool, healed);
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        run(QStringLiteral("PRAGMA query_only=1"), QStringLiteral("tlv"));
        QVERIFY(!m_store->store(product(5)));
        QVERIFY(!m_store->store(product(6)));
        if (healed)
            run(QStringLiteral("PRAGMA query_only=0"), QStringLiteral("tlv"));
        messages.clear();
        m_store.reset();
        QCOMPARE(stored(), healed ? (QStringList { row(5), row(6) }) : QStringList());
        QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("^pid: [56] .*never stored"))).size(),
            healed ? 0 : 2);
    }

    void lockedAtStartUp()
    {
        run(QLatin1String(ProductStore::createTableSql), QStringLiteral("other"));
        run(QStringLiteral("insert into product_data_new (pid, uptime) values (1, '%1')")
                .arg(product(1).uptime),
            QStringLiteral("other"));
        // A backup holds the whole file while the panel starts: no table is created, nothing is fatal.
        run(QStringLiteral("BEGIN EXCLUSIVE"), QStringLiteral("other"));
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        QVERIFY(!m_store->store(product(2)));
        run(QStringLiteral("COMMIT"), QStringLiteral("other"));
        QVERIFY(m_store->store(product(3)));
        QCOMPARE(stored(), (QStringList { row(1), row(2), row(3) }));
        QVERIFY(messages.filter(QStringLiteral("Create product_data_new table")).isEmpty());
        QCOMPARE(run(QStringLiteral("PRAGMA journal_mode")), QStringList { "wal" });
    }

    void foreignSchema()
    {
        run(QStringLiteral("create table product_data_new (id integer primary key, uptime text, pid integer, "
                           "line text not null)"));
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        // Reported once, naming what is missing and what the panel cannot fill.
        QCOMPARE(messages.filter(QStringLiteral("missing columns")).size(), 1);
        QVERIFY(
            messages
                .filter(QRegularExpression(QStringLiteral(
                    R"(missing columns \("barcode", "psize", "diameter", "appearance", "status"\).*\("line"\))")))
                .size()
            == 1);
        QVERIFY(!m_store->store(product(1)));
        QVERIFY(messages.last().contains(QStringLiteral("no column named")));
        m_store->setQueueLimit(1);
        QVERIFY(!m_store->store(product(2)));
        QVERIFY(messages.last().contains(QStringLiteral("full")));
    }

    void fileNotADatabase()
    {
        QFile noise(file());
        QVERIFY(noise.open(QIODevice::WriteOnly));
        noise.write(QByteArray(16384, 'x'));
        noise.close();
        // Only a file that is really no database ends the host, at start-up, and is left alone.
        QProcess writer;
        writer.start(QStringLiteral(TLV_WRITER),
            { QStringLiteral("--base"), m_dir->path(), QStringLiteral("--count"), QStringLiteral("3") });
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        QVERIFY(writer.readAllStandardOutput().isEmpty());
        QVERIFY(writer.readAllStandardError().contains(
            "Create product_data_new table failed: file is not a database"));
        QVERIFY(noise.open(QIODevice::ReadOnly));
        QCOMPARE(noise.readAll(), QByteArray(16384, 'x'));
    }
};

QTEST_GUILESS_MAIN(ReliabilityStorageTest)
#include "tst_reliability_storage.moc"
