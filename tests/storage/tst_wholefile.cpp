// Whole-file copies of the product database. A byte copy of TLV.db alone, without its -wal and
// -shm files, holds what the store has folded back: every product once the store is gone, and
// the older ones while it runs.
#include "ProductStore.h"
#include "ProductTable.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
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

// Rows of "count min max" ids: a copy of one moment holds ids 1 to n, none missing.
QStringList ids(const QString &path)
{
    return query(
        path, QStringLiteral("select count(*) || ' ' || min(id) || ' ' || max(id) from product_data_new"));
}

StoredRow product(int pid)
{
    return StoredRow { QStringLiteral("2024-05-06 14:03:27"), pid, QStringLiteral("M,O"), QStringLiteral("s"),
        QStringLiteral("[]"), QStringLiteral("[]"), 3 };
}

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
        for (int pid = 1; pid <= products; ++pid)
            QVERIFY(store->store(product(pid)));
        // The connection "tlv" stays open, so SQLite does not fold the log back on closing it.
        if (moment == QLatin1String("destroyed"))
            store.reset();
        const QStringList all { QStringLiteral("%1 1 %1").arg(products) };
        if (moment == QLatin1String("interval"))
            QTRY_COMPARE(copyAlone(), all);
        else
            QCOMPARE(copyAlone(), all);
        QCOMPARE(query(alone, QStringLiteral("pragma integrity_check")), QStringList { "ok" });
    }
};

QTEST_GUILESS_MAIN(WholeFileTest)
#include "tst_wholefile.moc"
