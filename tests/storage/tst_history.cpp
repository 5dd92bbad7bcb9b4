// The history index on real files: its queries find exactly the rows a plain scan finds, through
// the index tables for the indexed part; retention deletes exactly the expired rows with their
// index entries; the keeper builds, follows and trims a file on its own thread and says so.
#include "HistoryIndex.h"
#include "HistoryKeeper.h"
#include "MessageGuard.h"
#include "ProductTable.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Barcodes told apart only by what a pattern must take literally or without case.
const QStringList kBarcodes { "TLV-100200,WO240001", "tlv-100200,wo240002", "TLV-100377,WO240001", "A'B,WO1",
    "50%,WO2", "50X,WO3", "A_B,WO4", "AXB,WO5", "back\\slash,WO6", "backXslash,WO7" };
const QVariant kNull(QVariant::String);

QStringList logged(const QString &part)
{
    return MessageGuard::messages().filter(part);
}

} // namespace

class HistoryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QSqlDatabase m_db;
    QString file() const { return m_dir->filePath(QStringLiteral("DectDB/TLV.db")); }

    void insert(const QVariant &uptime, const QVariant &barcode)
    {
        QSqlQuery query(m_db);
        QVERIFY(query.prepare(QLatin1String(ProductTable::insertSql)));
        const QVariantList values { uptime, 1, barcode, "w:1", "[]", "[]", 3 };
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    // Column `c` of every row of `sql` (for select *: the id), or the error.
    QStringList column(const QString &sql, const QVariantMap &values = {}, int c = 0)
    {
        QSqlQuery query(m_db);
        query.prepare(sql);
        for (auto it = values.begin(); it != values.end(); ++it)
            query.bindValue(it.key(), it.value());
        if (!query.exec())
            return { query.lastError().text() };
        QStringList found;
        while (query.next())
            found << query.value(c).toString();
        return found;
    }
    QStringList rows(const QString &sql, const QVariantMap &values)
    {
        QStringList ids = column(sql, values);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    qint64 count(const char *table)
    {
        return column(QStringLiteral("select count(*) from ") + table).value(0).toLongLong();
    }
    void indexAll(int limit)
    {
        QString error;
        int taken = 0;
        while ((taken = HistoryIndex::indexSlice(m_db, limit, &error)) == limit) { }
        QVERIFY2(taken >= 0, qPrintable(error));
    }

private slots:
    void initTestCase() { MessageGuard::install(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("DectDB")));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
        m_db.setDatabaseName(file());
        QVERIFY(m_db.open());
        for (const char *sql :
            { "PRAGMA journal_mode=WAL", "PRAGMA synchronous=OFF", ProductTable::createSql })
            QVERIFY(QSqlQuery(m_db).exec(QLatin1String(sql)));
        QString error;
        QVERIFY2(HistoryIndex::createTables(m_db, &error), qPrintable(error));
    }

    void cleanup()
    {
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("test"));
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
    }

    void queries_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("key"); // null: a range without barcode condition
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("ownIndexes"); // someone indexed uptime and barcode
        const QString first = QStringLiteral("2026-03-01 00:00:00");
        const QString last = QStringLiteral("2026-03-31 23:59:59");
        QTest::newRow("whole month") << first << last << QString() << 195 << false;
        QTest::newRow("whole month, file with indexes of its own")
            << first << last << QString() << 195 << true;
        QTest::newRow("one day, bounds included") << "2026-03-02 00:00:00"
                                                  << "2026-03-02 23:00:00" << QString() << 24 << false;
        QTest::newRow("empty range") << last << first << QString() << 0 << false;
        QTest::newRow("exact material, any case") << first << last << "TLV-100200" << 36 << false;
        QTest::newRow("exact order") << first << last << "WO240001" << 37 << false;
        QTest::newRow("exact order, file with indexes of its own")
            << first << last << "WO240001" << 37 << true;
        QTest::newRow("fragment") << "2026-03-03 00:00:00" << last << "0377" << 14 << false;
        QTest::newRow("quote") << first << last << "A'B" << 19 << false;
        QTest::newRow("percent literal") << first << last << "50%" << 19 << false;
        QTest::newRow("underscore literal") << first << last << "A_B" << 19 << false;
        QTest::newRow("backslash literal") << first << last << "k\\s" << 18 << false;
        QTest::newRow("only in the unindexed tail") << first << last << "TAIL" << 5 << false;
        QTest::newRow("only in rows deleted by an outsider") << first << last << "GONE" << 0 << false;
        QTest::newRow("empty key: every barcode") << first << last << "" << 190 << false;
    }

    // 200 rows an hour apart; the first 150 indexed, then 50 more, then an outsider deletes
    // some of each part. Rows without uptime or barcode are in both parts.
    void queries()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, key);
        QFETCH(int, expected);
        QFETCH(bool, ownIndexes);
        const QDateTime start(QDate(2026, 3, 1), QTime(0, 0));
        for (int i = 0; i < 200; ++i) {
            const QString uptime = start.addSecs(3600LL * i).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            if (i == 150)
                indexAll(40);
            QVariant barcode = kBarcodes.at(i % kBarcodes.size());
            if (i % 41 == 7)
                barcode = i < 150 ? "GONE,1" : "GONE,2";
            if (i >= 190)
                barcode = i % 2 ? kNull : QVariant("TAIL,1");
            if (i == 160 || i == 60 || i == 61)
                insert(kNull, i == 61 ? kNull : barcode);
            insert(uptime, barcode);
        }
        QVERIFY(
            QSqlQuery(m_db).exec(QStringLiteral("delete from product_data_new where barcode like 'GONE%'")));
        for (const char *sql : { "create index own_uptime on product_data_new (uptime)",
                 "create index own_barcode on product_data_new (barcode, uptime)", "analyze" })
            QVERIFY(!ownIndexes || QSqlQuery(m_db).exec(QLatin1String(sql)));

        QVariantMap values { { ":from", from }, { ":to", to } };
        QString plain = QStringLiteral("select * from product_data_new where uptime between :from and :to");
        QString sql = HistoryIndex::rangeSql();
        if (!key.isNull()) {
            values.insert(QStringLiteral(":pattern"), HistoryIndex::likePattern(key));
            plain += QStringLiteral(" and barcode like :pattern escape '\\'");
            sql = HistoryIndex::searchSql();
        }
        const QStringList scanned = rows(plain, values);
        QCOMPARE(rows(sql, values), scanned);
        QCOMPARE(scanned.size(), expected);

        // The indexed part through the index tables; product_data_new only by id (a row at a
        // time, or the tail's ids above the mark), never by a scan or by an index of its own.
        const QStringList steps = column(QStringLiteral("explain query plan ") + sql, values, 3);
        const QString seek
            = key.isNull() ? "(uptime>? AND uptime<?)" : "(barcode=? AND uptime>? AND uptime<?)";
        QVERIFY2(steps.filter("x USING PRIMARY KEY " + seek).size() == 1
                && steps.filter(QRegularExpression("\\bp\\b")).size() == 2
                && steps.filter("p USING INTEGER PRIMARY KEY (rowid").size() == 2,
            qPrintable(steps.join('\n')));
    }

    void retention_data()
    {
        QTest::addColumn<QTime>("now"); // on 2026-04-09, keeping 30 days
        QTest::addColumn<int>("limit");
        QTest::newRow("at the second's start, slices of 2") << QTime(12, 0, 0, 0) << 2;
        QTest::newRow("at the second's end, one slice") << QTime(12, 0, 0, 999) << 2000;
    }

    // Rows stamped at the cut-off's second go, the next second stays, in the index and in the
    // tail, with their index entries.
    void retention()
    {
        QFETCH(QTime, now);
        QFETCH(int, limit);
        const QString cutoff = HistoryKeeper::cutoffText(30, QDateTime(QDate(2026, 4, 9), now));
        const QStringList stamps { "2026-01-01 00:00:00", "2026-03-10 11:59:59", "2026-03-10 12:00:00",
            "2026-03-10 12:00:01", "2026-04-01 00:00:00" };
        for (const QString &stamp : stamps)
            insert(stamp, "M,O");
        insert(kNull, "M,O");
        insert("2026-03-10 12:00:00", kNull);
        indexAll(3);
        insert("2026-02-01 00:00:00", "TAIL,1"); // not indexed yet
        insert("2026-03-10 12:00:01", "TAIL,2");

        QString error;
        int products = 0;
        int total = 0;
        int taken = 0;
        do {
            taken = HistoryIndex::retireSlice(m_db, cutoff, limit, &products, &error);
            total += products;
        } while (taken == limit);
        QVERIFY2(taken >= 0, qPrintable(error));
        QCOMPARE(total, 5);
        QCOMPARE(column(QStringLiteral(
                     "select coalesce(uptime, 'unstamped') || ' ' || barcode from product_data_new")),
            QStringList({ "2026-03-10 12:00:01 M,O", "2026-04-01 00:00:00 M,O", "unstamped M,O",
                "2026-03-10 12:00:01 TAIL,2" }));
        QCOMPARE(count("tlv_index_time"), qint64(2));
        QCOMPARE(count("tlv_index_barcode"), qint64(2));
        const QVariantMap all { { ":from", "2000" }, { ":to", "3000" }, { ":pattern", "%" } };
        QCOMPARE(rows(HistoryIndex::searchSql(), all).size(), 3);
    }

    // A keeper on its own thread: builds the index, trims expired products, follows new ones,
    // and stops with its owner.
    void keeper()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const int old = 1500;
        const int recent = 1200; // more than one slice
        QVERIFY(m_db.transaction());
        for (int i = 0; i < old + recent; ++i)
            insert(now.addDays(i < old ? -40 : -1).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), "M,O");
        QVERIFY(m_db.commit());

        auto owner = std::make_unique<QObject>();
        QVERIFY(HistoryKeeper::start(file(), 30, owner.get()));
        QTRY_COMPARE_WITH_TIMEOUT(logged(QStringLiteral("History retention: deleted")).size(), 1, 30000);
        QCOMPARE(count("product_data_new"), qint64(recent));
        QCOMPARE(count("tlv_index_barcode"), qint64(recent));
        insert(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), "NEW,1");
        QTRY_COMPARE(HistoryIndex::indexedUpTo(m_db), qint64(old + recent + 1));
        owner.reset();
        QVERIFY(QSqlDatabase::connectionNames().filter(QStringLiteral("tlv_history_")).isEmpty());

        const QStringList lines = logged(QStringLiteral("History"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("History index: building for up to 2700 products in ") + file());
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("History index: built, 2700 products in ")),
            qPrintable(lines.at(1)));
        QVERIFY2(
            lines.at(2).startsWith(QStringLiteral("History retention: deleted 1500 products stamped before "))
                && lines.at(2).contains(QStringLiteral(" (keeping 30 days) from %1 in ").arg(file())),
            qPrintable(lines.at(2)));
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
