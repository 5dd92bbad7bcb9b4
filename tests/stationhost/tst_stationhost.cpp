// Runs the built station host as a new user would, headless, and checks what it leaves
// behind: its exit status and summary, the product rows and the host settings file.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class tst_stationhost : public QObject
{
    Q_OBJECT

private slots:
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void runsAndKeepsSettings();
    void backsUp_data();
    void backsUp();
    void refusesUnusableDatabase_data();
    void refusesUnusableDatabase();
    void reportsUnreadableRows();

private:
    int runHost(const QStringList &arguments, QString *out = nullptr, QString *err = nullptr) const;
    static QString exec(const QString &dbPath, const QString &sql);
};

int tst_stationhost::runHost(const QStringList &arguments, QString *out, QString *err) const
{
    QProcess process;
    process.start(
        QDir(qEnvironmentVariable("TLV_BINARY_DIR")).filePath(QStringLiteral("StationHost/station_host")),
        QStringList { QStringLiteral("--headless") } + arguments);
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput());
    if (err)
        *err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Runs one statement on a connection of the test's own; gives the first row's first field.
QString tst_stationhost::exec(const QString &dbPath, const QString &sql)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(dbPath);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql) && query.next())
            value = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return value;
}

void tst_stationhost::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("plugin path after a space")
        << QStringList { "--plugin", "/no/such/plugin.so" } << "/no/such/plugin.so";
    QTest::newRow("rate inf") << QStringList { "--rate", "inf" } << "--rate needs";
    QTest::newRow("rate nan") << QStringList { "--rate", "nan" } << "--rate needs";
    QTest::newRow("rate too high") << QStringList { "--rate", "1e12" } << "--rate needs";
    QTest::newRow("rate too low") << QStringList { "--rate", "1e-300" } << "--rate needs";
    QTest::newRow("seed days") << QStringList { "--seed-days", "2147483647" } << "--seed-days needs";
    QTest::newRow("products negative") << QStringList { "--products", "-5" } << "--products needs";
    QTest::newRow("products garbage") << QStringList { "--products", "many" } << "--products needs";
    QTest::newRow("unknown option") << QStringList { "--bogus" } << "bogus";
}

void tst_stationhost::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    QString err;
    QCOMPARE(runHost(QStringList { "--data", tmp.filePath("d") } + arguments, nullptr, &err), 2);
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(!QFileInfo::exists(tmp.filePath("d/DectDB/TLV.db")));
}

void tst_stationhost::runsAndKeepsSettings()
{
    QTemporaryDir tmp;
    const QString settings = tmp.filePath("host.json");
    const QString db = tmp.filePath("DectDB/TLV.db");
    const QStringList args { "--data", tmp.path(), "--settings", settings, "--products", "4", "--rate", "0" };
    const auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const auto write = [&](const QByteArray &bytes) {
        QFile f(settings);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    };
    write("{\"Custom_TALVORIN\": {");

    // A malformed settings file is kept as .bak, then replaced.
    QString out;
    QCOMPARE(runHost(args, &out), 0);
    QVERIFY2(out.contains("\nstored: 4 of 4 products\n") && out.contains("\nrows: 4\n"), qPrintable(out));
    QVERIFY2(
        out.contains(QRegularExpression("\ndisk: \\d+\\.\\d GB free of \\d+\\.\\d GB( LOW, below .*)?\n")),
        qPrintable(out));
    QCOMPARE(read(settings + ".bak"), QByteArray("{\"Custom_TALVORIN\": {"));
    QJsonObject root = QJsonDocument::fromJson(read(settings)).object();
    QVERIFY(root.value("Custom_TALVORIN").toObject().contains("hckd"));
    QCOMPARE(root.value("Custom_TALVORIN").toObject().value("History"), QJsonValue("1"));

    // The operator's entries and another plugin's member survive a run and reach the rows;
    // --no-history takes the history switch out of the panel's settings.
    const QJsonObject panel { { "hckd", "12" }, { "MaterialBarcode", "M-318" }, { "OrderBarcode", "WO-7" } };
    QJsonObject withHistory = panel;
    withHistory.insert("History", "1");
    root.insert("Custom_TALVORIN", withHistory);
    root.insert("VantrelPanel", QJsonObject { { "keep", true } });
    write(QJsonDocument(root).toJson());
    QCOMPARE(runHost(args + QStringList { "--no-history" }), 0);
    root = QJsonDocument::fromJson(read(settings)).object();
    QCOMPARE(root.value("Custom_TALVORIN").toObject(), panel);
    QVERIFY(root.value("VantrelPanel").toObject().value("keep").toBool());
    QCOMPARE(exec(db, "SELECT COUNT(*) FROM product_data_new WHERE barcode = 'M-318,WO-7'"), QString("4"));

    // Products the database refuses to the end are reported, and the run fails.
    exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON product_data_new BEGIN SELECT RAISE(ABORT, 'no'); END");
    QCOMPARE(runHost(args, &out), 1);
    QVERIFY2(out.contains("\nstored: 0 of 4 products\n") && out.contains("LOST: 4 of 4"), qPrintable(out));
}

void tst_stationhost::backsUp_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::newRow("copy") << "saved/TLV-copy.db" << 0;
    QTest::newRow("a file where its folder should be") << "blocked/TLV-copy.db" << 1;
}

// The copy is taken after the summary has counted the rows, and holds every one of them.
void tst_stationhost::backsUp()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    QTemporaryDir tmp;
    QFile blocker(tmp.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString copy = tmp.filePath(target);
    QString out;
    QCOMPARE(
        runHost({ "--data", tmp.filePath("d"), "--products", "5", "--rate", "0", "--backup", copy }, &out),
        status);
    QVERIFY2(out.contains("\nrows: 5\n"), qPrintable(out));
    if (status == 0) {
        QVERIFY2(out.contains("\nbackup: " + QDir::toNativeSeparators(copy) + "\n"), qPrintable(out));
        QCOMPARE(exec(copy, "SELECT COUNT(*) FROM product_data_new"), QString("5"));
    } else {
        QVERIFY2(out.contains("\nbackup failed: "), qPrintable(out));
        QVERIFY(!QFileInfo::exists(copy));
    }
}

void tst_stationhost::refusesUnusableDatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder") << "folder"
                            << "is a folder where the database file should be";
    QTest::newRow("text file") << "text"
                               << "is not a readable SQLite database";
    QTest::newRow("foreign table") << "foreign"
                                   << "lacks the columns uptime, pid, barcode";
}

// Refused before the panel sees it, so the file stays as it was and nothing else is created.
void tst_stationhost::refusesUnusableDatabase()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const QString db = tmp.filePath("DectDB/TLV.db");
    QVERIFY(QDir().mkpath(kind == "folder" ? db : tmp.filePath("DectDB")));
    if (kind == "text") {
        QFile f(db);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("serial;diameter\n1;5.2\n") > 0);
    } else if (kind == "foreign") { // write-ahead, like the panel's own file
        exec(db, "PRAGMA journal_mode=WAL");
        exec(db, "CREATE TABLE product_data_new (a int, b text)");
    }
    const auto snapshot = [&]() {
        QFile f(db);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return QDir(tmp.filePath("DectDB")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('|') + '|'
            + QString::number(qHash(bytes)) + '|' + QString::number(QFileInfo(db).size());
    };
    const QString before = snapshot();

    QString err;
    QCOMPARE(
        runHost(QStringList { "--data", tmp.path(), "--products", "3", "--rate", "0" }, nullptr, &err), 2);
    QVERIFY2(err.contains(QDir::toNativeSeparators(db)) && err.contains(message), qPrintable(err));
    QCOMPARE(snapshot(), before);
}

// Another program holds the file locked for the whole run: the summary says what it could not
// read instead of printing numbers, and the run fails.
void tst_stationhost::reportsUnreadableRows()
{
    QTemporaryDir tmp;
    const QString db = tmp.filePath("DectDB/TLV.db");
    QVERIFY(QDir().mkpath(tmp.filePath("DectDB")));
    exec(db,
        "CREATE TABLE product_data_new (id integer primary key, uptime text, pid integer, barcode text, "
        "psize text, diameter text, appearance text, status integer)");
    QString out;
    {
        QSqlDatabase lock = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
        lock.setDatabaseName(db);
        QSqlQuery query(lock);
        QVERIFY(lock.open() && query.exec("BEGIN EXCLUSIVE"));
        QCOMPARE(runHost(QStringList { "--data", tmp.path(), "--products", "3", "--rate", "0" }, &out), 1);
        query.exec("ROLLBACK");
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    QVERIFY2(out.contains("\nrows: unknown, the database could not be read (database is locked)\n")
            && out.contains("\nLOST: 3 of 3 products cannot be found: the database could not be read")
            && !out.contains(": -1"),
        qPrintable(out));
}

QTEST_GUILESS_MAIN(tst_stationhost)
#include "tst_stationhost.moc"
