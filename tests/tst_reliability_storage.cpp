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
                        QStringLiteral("M,O"), QString(3000, QLatin1Char('s')), QStringLiteral("[]"),
                        QStringLiteral("[]"), 3 };
}

// Runs `sql` on a connection of its own, kept open while `keep` lives.
struct Other
{
    explicit Other(const QString &file, const QString &name = QStringLiteral("other")) : name(name)
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.open();
    }
    ~Other()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    QStringList column(const QString &sql)
    {
        QSqlQuery query(db);
        QStringList values;
        if (!query.exec(sql))
            values << query.lastError().text();
        while (query.next())
            values << query.value(0).toString();
        return values;
    }
    QString name;
    QSqlDatabase db;
};

} // namespace

class ReliabilityStorageTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProductStore> m_store;
    QString folder() const { return m_dir->filePath(QStringLiteral("DectDB")); }
    QString file() const { return m_dir->filePath(QStringLiteral("DectDB/TLV.db")); }
    QStringList stored() { return Other(file()).column(QStringLiteral("select pid || ' ' || uptime from product_data_new order by id")); }
    static QString row(int pid) { return QStringLiteral("%1 %2").arg(pid).arg(product(pid).uptime); }
    QSqlDatabase tlv() const { return QSqlDatabase::database(QStringLiteral("tlv")); }

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
        QSqlDatabase::removeDatabase(QStringLiteral("tlv"));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("waits");    // products 2 and 3 wait during the fault
        QTest::addColumn<bool>("viaTimer"); // stored by the retry timer, not by the next product
        QTest::newRow("write lock held by another writer") << "lock" << true << false;
        QTest::newRow("disk full") << "full" << true << true;
        QTest::newRow("file read-only") << "readonly" << true << false;
        QTest::newRow("folder gone") << "folder" << true << true;
        QTest::newRow("file deleted") << "delete" << false << false;
        QTest::newRow("connection reopened") << "reopen" << false << false;
        QTest::newRow("second store on the shared connection") << "second" << false << false;
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, waits);
        QFETCH(bool, viaTimer);
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        QVERIFY(m_store->store(product(1)));

        std::unique_ptr<Other> other;
        std::unique_ptr<ProductStore> second;
        QSqlQuery pragma(tlv());
        if (fault == QLatin1String("lock")) {
            other = std::make_unique<Other>(file());
            QVERIFY(other->db.transaction());
            QVERIFY(QSqlQuery(other->db).exec(QStringLiteral("insert into product_data_new (pid) values (0)")));
        } else if (fault == QLatin1String("full")) {
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA max_page_count=1")));
        } else if (fault == QLatin1String("readonly")) {
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA query_only=1")));
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
        ProductStore &store = second ? *second : *m_store;
        QCOMPARE(store.store(product(2)), !waits);
        QCOMPARE(m_store->store(product(3)), !waits);
        if (waits) {
            QCOMPARE(m_store->pending(), 2);
            const QStringList failures = messages.filter(file().section(QLatin1Char('/'), -3)).filter(QStringLiteral("pid: 2 "));
            QVERIFY2(!failures.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
        }

        if (other)
            QVERIFY(other->db.rollback());
        if (fault == QLatin1String("full"))
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA max_page_count=1073741823")));
        if (fault == QLatin1String("readonly"))
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA query_only=0")));
        if (fault == QLatin1String("folder"))
            QVERIFY(QDir(m_dir->path()).rename(QStringLiteral("away"), QStringLiteral("DectDB")));
        if (viaTimer)
            QTRY_COMPARE_WITH_TIMEOUT(m_store->pending(), 0, 10000);
        QVERIFY(m_store->store(product(4)));
        QCOMPARE(m_store->pending(), 0);
        const QStringList expected { row(1), row(2), row(3), row(4) };
        QCOMPARE(stored(), fault == QLatin1String("delete") ? QStringList(expected.mid(1)) : expected);
        QCOMPARE(Other(file()).column(QStringLiteral("PRAGMA journal_mode")), QStringList { "wal" });
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
        QSqlQuery pragma(tlv());
        QVERIFY(pragma.exec(QStringLiteral("PRAGMA query_only=1")));
        QVERIFY(!m_store->store(product(5)));
        QVERIFY(!m_store->store(product(6)));
        if (healed)
            QVERIFY(pragma.exec(QStringLiteral("PRAGMA query_only=0")));
        pragma = QSqlQuery();
        messages.clear();
        m_store.reset();
        QCOMPARE(stored(), healed ? (QStringList { row(5), row(6) }) : QStringList());
        QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("^pid: [56] .*never stored"))).size(), healed ? 0 : 2);
    }

    void lockedAtStartUp()
    {
        {
            Other before(file());
            QVERIFY(QSqlQuery(before.db).exec(QLatin1String(ProductStore::createTableSql)));
            QVERIFY(QSqlQuery(before.db).exec(QStringLiteral("insert into product_data_new (pid, uptime) values (1, '%1')")
                                                  .arg(product(1).uptime)));
        }
        // A backup holds the whole file while the panel starts: no table is created, nothing is fatal.
        auto other = std::make_unique<Other>(file());
        QVERIFY(QSqlQuery(other->db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        QVERIFY(!m_store->store(product(2)));
        QVERIFY(QSqlQuery(other->db).exec(QStringLiteral("COMMIT")));
        other.reset();
        QVERIFY(m_store->store(product(3)));
        QCOMPARE(stored(), (QStringList { row(1), row(2), row(3) }));
        QVERIFY(messages.filter(QStringLiteral("Create product_data_new table")).isEmpty());
        QCOMPARE(Other(file()).column(QStringLiteral("PRAGMA journal_mode")), QStringList { "wal" });
    }

    void foreignSchema()
    {
        {
            Other before(file());
            QVERIFY(QSqlQuery(before.db).exec(QStringLiteral(
                "create table product_data_new (id integer primary key, uptime text, pid integer, line text not null)")));
        }
        m_store = std::make_unique<ProductStore>();
        QVERIFY(m_store->open(file()));
        const QStringList report = messages.filter(QStringLiteral("missing columns"));
        QCOMPARE(report.size(), 1);
        for (const char *column : { "barcode", "psize", "diameter", "appearance", "status", "line" })
            QVERIFY2(report.first().contains(QLatin1String(column)), qPrintable(report.first()));
        QVERIFY(!report.first().contains(QLatin1String("uptime")));
        QVERIFY(!m_store->store(product(1)));
        QVERIFY(messages.last().contains(QStringLiteral("no column named")));
        m_store->setQueueLimit(1);
        QVERIFY(!m_store->store(product(2)));
        QVERIFY(messages.last().contains(QStringLiteral("full")));
        QCOMPARE(m_store->pending(), 1);
    }

    void fileNotADatabase()
    {
        QFile noise(file());
        QVERIFY(noise.open(QIODevice::WriteOnly));
        noise.write(QByteArray(16384, 'x'));
        noise.close();
        // Only a file that is really no database ends the host, at start-up, and is left alone.
        QProcess writer;
        writer.start(QStringLiteral(TLV_WRITER), { QStringLiteral("--base"), m_dir->path(), QStringLiteral("--count"), QStringLiteral("3") });
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        QVERIFY(writer.readAllStandardOutput().isEmpty());
        QVERIFY(writer.readAllStandardError().contains("Create product_data_new table failed: file is not a database"));
        QVERIFY(noise.open(QIODevice::ReadOnly));
        QCOMPARE(noise.readAll(), QByteArray(16384, 'x'));
    }
};

QTEST_GUILESS_MAIN(ReliabilityStorageTest)
#include "tst_reliability_storage.moc"
