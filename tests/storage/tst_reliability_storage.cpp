// The product store under the faults of a plant: another writer holding the file, a full disk,
// a file that may not be written, the folder or the file gone, a reopened shared connection.
// No product may be lost: what cannot be stored waits and lands in order, read back from the file;
// what the table refuses for good is set aside as a JSON line and holds up no other product.
#include "MessageGuard.h"
#include "ProductStore.h"
#include "ProductTable.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

StoredRow product(int pid)
{
    // Large enough that every product needs pages of its own.
    return StoredRow { QStringLiteral("2024-05-06 14:03:%1").arg(pid, 2, 10, QLatin1Char('0')), pid,
        QStringLiteral("M,O"), QString(3000, QLatin1Char('s')), QStringLiteral("[]"), QStringLiteral("[]"),
        3 };
}

// Refused by each of the plant's rules below: a barcode, a pid already stored, no size items.
StoredRow refused(int pid)
{
    StoredRow row = product(pid);
    row.barcode = QStringLiteral("BAD,%1").arg(pid);
    row.psize = QString();
    return row;
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
    // What the store logged in this test function, debug lines aside.
    static QStringList logged() { return MessageGuard::messages(); }
    QStringList stored() const
    {
        return run(QStringLiteral("select pid || ' ' || uptime from product_data_new order by id"));
    }

private slots:
    void initTestCase() { MessageGuard::install(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("DectDB")));
    }

    void cleanup()
    {
        m_store.reset();
        for (const char *name : { "tlv", "reader", "other" })
            QSqlDatabase::removeDatabase(QLatin1String(name));
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
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
        // Products 2 and 3 wait, each logged.
        MessageGuard::expect(QRegularExpression(QStringLiteral(
            "^pid: [23] .*waiting to be stored: [12]$|^FilterGroup DB Open failed\\. pid: [23] ")));
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
            QVERIFY(!logged()
                         .filter(file())
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

    void refusedForGood_data()
    {
        QTest::addColumn<QStringList>("schema"); // the plant's table, before the panel opens it
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("unwritable"); // the unsaved-products file cannot be written either
        const QString table = QLatin1String(ProductTable::createSql);
        const QStringList trigger { table,
            "create trigger t before insert on product_data_new when new.barcode like 'BAD,%' begin "
            "select raise(abort,'bad barcode'); end" };
        QTest::newRow("trigger") << trigger << "bad barcode" << false;
        QTest::newRow("unique pid index")
            << QStringList { table, "create unique index u on product_data_new(pid)",
                   "insert into product_data_new (uptime, pid) values ('earlier', 2), ('earlier', 5)" }
            << "UNIQUE constraint failed: product_data_new.pid" << false;
        QTest::newRow("not null column left empty")
            << QStringList { QString(table).replace("psize text", "psize text not null") }
            << "NOT NULL constraint failed: product_data_new.psize" << false;
        QTest::newRow("trigger, unsaved-products file unwritable") << trigger << "bad barcode" << true;
    }

    void refusedForGood()
    {
        QFETCH(QStringList, schema);
        QFETCH(QString, reason);
        QFETCH(bool, unwritable);
        MessageGuard::expect(QRegularExpression(QStringLiteral(
            "^pid: [25] .*refused by .*set aside in|^pid: [456] .*locked.*waiting to be stored")));
        for (const QString &sql : schema)
            QCOMPARE(run(sql, QStringLiteral("other")), QStringList());
        const QString unsaved = m_dir->filePath(QStringLiteral("DectDB/TLV.unsaved.jsonl"));
        if (unwritable)
            QVERIFY(QDir().mkpath(unsaved));
        const QStringList before = stored();
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        QVERIFY(m_store->store(product(1)));
        QVERIFY(!m_store->store(refused(2)));
        QVERIFY(m_store->store(product(3)));
        // 4 to 6 wait behind a lock and go in as one transaction, 5 refused in the middle of it.
        run(QStringLiteral("BEGIN IMMEDIATE"), QStringLiteral("other"));
        for (int pid : { 4, 5, 6 })
            QVERIFY(!m_store->store(pid == 5 ? refused(pid) : product(pid)));
        run(QStringLiteral("ROLLBACK"), QStringLiteral("other"));
        QVERIFY(m_store->store(product(7)));
        QCOMPARE(m_store->pending(), 0);
        QCOMPARE(stored(), (before + QStringList { row(1), row(3), row(4), row(6), row(7) }));

        // Each line names its own product and its own reason: the refusal, or the lock it waits for.
        const QStringList refusals = logged().filter(reason);
        QCOMPARE(refusals.size(), 2);
        for (int i : { 0, 1 }) {
            QVERIFY2(refusals.at(i).startsWith(QStringLiteral("pid: %1 ").arg(i ? 5 : 2)),
                qPrintable(refusals.at(i)));
            QVERIFY(refusals.at(i).contains(" Error: Unable to insert data"));
            QVERIFY(refusals.at(i).contains(unwritable ? "could not be set aside in" : "set aside in"));
            QVERIFY(refusals.at(i).contains(unsaved));
            QVERIFY(!unwritable || refusals.at(i).contains(QStringLiteral("\"pid\":%1,").arg(i ? 5 : 2)));
        }
        QCOMPARE(
            logged().filter(QRegularExpression(QStringLiteral("^pid: [456] .*locked.*waiting"))).size(), 3);

        QFile lines(unsaved);
        QCOMPARE(lines.open(QIODevice::ReadOnly), !unwritable);
        if (unwritable)
            return;
        const QList<QByteArray> written = lines.readAll().split('\n');
        QCOMPARE(written.size(), 3);
        QVERIFY(written.last().isEmpty());
        for (int i : { 0, 1 }) {
            QJsonObject object = QJsonDocument::fromJson(written.at(i)).object();
            QCOMPARE(QJsonDocument(object).toJson(QJsonDocument::Compact), written.at(i));
            QVERIFY2(object.take("error").toString().contains(reason), written.at(i).constData());
            const StoredRow p = refused(i ? 5 : 2);
            const QJsonObject expected { { "uptime", p.uptime }, { "pid", p.pid }, { "barcode", p.barcode },
                { "psize", QJsonValue() }, { "diameter", p.diameter }, { "appearance", p.appearance },
                { "status", p.status } };
            QCOMPARE(QJsonDocument(object).toJson(), QJsonDocument(expected).toJson());
        }
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
        MessageGuard::expect(QRegularExpression(QStringLiteral(
            "^pid: [56] .*(waiting to be stored|never stored)|^pid: 7 .*queue of unsaved products full")));
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        run(QStringLiteral("PRAGMA query_only=1"), QStringLiteral("tlv"));
        QVERIFY(!m_store->store(product(5)));
        QVERIFY(!m_store->store(product(6)));
        m_store->setQueueLimit(2);
        QVERIFY(!m_store->store(product(7)));
        QVERIFY(logged().last().contains(QStringLiteral("pid: 7 ")));
        QVERIFY(logged().last().contains(QStringLiteral("full")));
        if (healed)
            run(QStringLiteral("PRAGMA query_only=0"), QStringLiteral("tlv"));
        const int before = logged().size();
        m_store.reset();
        QCOMPARE(stored(), healed ? (QStringList { row(5), row(6) }) : QStringList());
        QCOMPARE(logged()
                     .mid(before)
                     .filter(QRegularExpression(QStringLiteral("^pid: [56] .*never stored.*set aside")))
                     .size(),
            healed ? 0 : 2);
        // What the store gave up on is kept for an integrator: the dropped product and, when the
        // file never healed, those still waiting at the end.
        QFile lines(m_dir->filePath(QStringLiteral("DectDB/TLV.unsaved.jsonl")));
        QVERIFY(lines.open(QIODevice::ReadOnly));
        QList<int> pids;
        for (const QByteArray &line : lines.readAll().split('\n'))
            if (!line.isEmpty())
                pids << QJsonDocument::fromJson(line).object().value(QStringLiteral("pid")).toInt();
        QCOMPARE(pids, healed ? (QList<int> { 7 }) : (QList<int> { 7, 5, 6 }));
    }

    void lockedAtStartUp()
    {
        MessageGuard::expect(QRegularExpression(QStringLiteral(
            "^Cannot read the table list of .*locked|^pid: 2 .*locked.*waiting to be stored")));
        run(QLatin1String(ProductTable::createSql), QStringLiteral("other"));
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
        QVERIFY(logged().filter(QStringLiteral("Create product_data_new table")).isEmpty());
        QCOMPARE(run(QStringLiteral("PRAGMA journal_mode")), QStringList { "wal" });
    }

    void foreignSchema()
    {
        MessageGuard::expect(QRegularExpression(QStringLiteral(
            "is not the table the panel writes: missing columns|^pid: [12] .*no column named")));
        run(QStringLiteral("create table product_data_new (id integer primary key, uptime text, pid integer, "
                           "line text not null)"));
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        // Reported once, naming what is missing and what the panel cannot fill.
        QCOMPARE(logged().filter(QStringLiteral("missing columns")).size(), 1);
        QVERIFY(
            logged()
                .filter(QRegularExpression(QStringLiteral(
                    R"(missing columns \("barcode", "psize", "diameter", "appearance", "status"\).*\("line"\))")))
                .size()
            == 1);
        // Every product is refused: set aside, none waits.
        for (int pid : { 1, 2 }) {
            QVERIFY(!m_store->store(product(pid)));
            QVERIFY(logged().last().startsWith(QStringLiteral("pid: %1 ").arg(pid)));
            QVERIFY(logged().last().contains(QStringLiteral("no column named")));
            QVERIFY(logged().last().contains(QStringLiteral("TLV.unsaved.jsonl")));
        }
        QCOMPARE(m_store->pending(), 0);
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
