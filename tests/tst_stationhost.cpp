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
    QCOMPARE(read(settings + ".bak"), QByteArray("{\"Custom_TALVORIN\": {"));
    QJsonObject root = QJsonDocument::fromJson(read(settings)).object();
    QVERIFY(root.value("Custom_TALVORIN").toObject().contains("hckd"));

    // The operator's entries and another plugin's member survive a run and reach the rows.
    const QJsonObject panel { { "hckd", "12" }, { "MaterialBarcode", "M-318" }, { "OrderBarcode", "WO-7" } };
    root.insert("Custom_TALVORIN", panel);
    root.insert("VantrelPanel", QJsonObject { { "keep", true } });
    write(QJsonDocument(root).toJson());
    QCOMPARE(runHost(args), 0);
    root = QJsonDocument::fromJson(read(settings)).object();
    QCOMPARE(root.value("Custom_TALVORIN").toObject(), panel);
    QVERIFY(root.value("VantrelPanel").toObject().value("keep").toBool());
    QCOMPARE(exec(db, "SELECT COUNT(*) FROM product_data_new WHERE barcode = 'M-318,WO-7'"), QString("4"));

    // Products the database refuses to the end are reported, and the run fails.
    exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON product_data_new BEGIN SELECT RAISE(ABORT, 'no'); END");
    QCOMPARE(runHost(args, &out), 1);
    QVERIFY2(out.contains("\nstored: 0 of 4 products\n") && out.contains("LOST: 4 of 4"), qPrintable(out));
}

QTEST_GUILESS_MAIN(tst_stationhost)
#include "tst_stationhost.moc"
