// Runs the built station host as the operator would, headless, and checks what it leaves
// behind: its summary, the product rows and the host settings file.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class tst_stationhost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void headlessRun_data();
    void headlessRun();
    void settingsRoundTrip();
    void rejectsBadArguments();

private:
    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
        QMap<QString, QString> summary;
    };
    Run runHost(const QStringList &arguments) const;
    static QJsonObject readJson(const QString &file);

    QString m_host;
};

void tst_stationhost::initTestCase()
{
    const QString binaryDir = qEnvironmentVariable("TLV_BINARY_DIR");
    QVERIFY2(!binaryDir.isEmpty(), "TLV_BINARY_DIR is not set");
#ifdef Q_OS_WIN
    m_host = QDir(binaryDir).filePath(QStringLiteral("StationHost/station_host.exe"));
#else
    m_host = QDir(binaryDir).filePath(QStringLiteral("StationHost/station_host"));
#endif
    QVERIFY2(QFileInfo(m_host).isExecutable(), qPrintable(m_host));
}

tst_stationhost::Run tst_stationhost::runHost(const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(m_host, QStringList{QStringLiteral("--headless")} + arguments);
    Run run;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1String(": "));
        if (colon > 0)
            run.summary.insert(line.left(colon), line.mid(colon + 2).trimmed());
    }
    return run;
}

QJsonObject tst_stationhost::readJson(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(f.readAll()).object();
}

void tst_stationhost::headlessRun_data()
{
    QTest::addColumn<int>("products");
    QTest::addColumn<QString>("rate");
    QTest::newRow("ten products at 50 per second") << 10 << QStringLiteral("50");
    QTest::newRow("three products flat out") << 3 << QStringLiteral("0");
}

void tst_stationhost::headlessRun()
{
    QFETCH(int, products);
    QFETCH(QString, rate);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString data = tmp.filePath(QStringLiteral("data"));

    const Run run = runHost({QStringLiteral("--data"), data, QStringLiteral("--products"), QString::number(products),
                             QStringLiteral("--rate"), rate});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err.right(2000)));
    QCOMPARE(run.summary.value(QStringLiteral("plugin")).section(QLatin1String("  ("), 0, 0),
             QStringLiteral("com.kvt.quorvex.Custom_TALVORIN | TALVORIN-V2.2 | 定制"));
    QCOMPARE(run.summary.value(QStringLiteral("products")).toInt(), products);
    const int ok = run.summary.value(QStringLiteral("OK")).toInt();
    const int ng = run.summary.value(QStringLiteral("NG")).toInt();
    QCOMPARE(ok + ng, products);
    const QString dbPath = QDir(data).filePath(QStringLiteral("DectDB/TLV.db"));
    QCOMPARE(QDir::fromNativeSeparators(run.summary.value(QStringLiteral("database"))), dbPath);
    QCOMPARE(run.summary.value(QStringLiteral("rows")).toInt(), products);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(dbPath);
    QVERIFY(db.open());
    {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT pid, diameter, appearance, status, psize FROM product_data_new ORDER BY id")));
        int rows = 0;
        int statusNg = 0;
        int lastPid = 0;
        while (query.next()) {
            ++rows;
            QVERIFY(query.value(0).toInt() > lastPid);
            lastPid = query.value(0).toInt();
            const QJsonArray holes = QJsonDocument::fromJson(query.value(1).toByteArray()).array();
            QCOMPARE(holes.size(), 20);
            // Camera positions reach the panel: hole 0 sits at reading 250, i.e. 5 cm.
            QCOMPARE(holes.at(0).toObject().value(QStringLiteral("position")).toDouble(), 5.0);
            QCOMPARE(QJsonDocument::fromJson(query.value(2).toByteArray()).array().size(), 1);
            const int status = query.value(3).toInt();
            QVERIFY(status >= 0 && status <= 3);
            if (status != 3)
                ++statusNg;
            QVERIFY(query.value(4).toString().contains(QStringLiteral("TALVORIN长度:")));
            QVERIFY(query.value(4).toString().contains(QStringLiteral("宽度:")));
        }
        QCOMPARE(rows, products);
        // A size NG turns the verdict NG without touching the status bits.
        QVERIFY(statusNg <= ng);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void tst_stationhost::settingsRoundTrip()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString data = tmp.filePath(QStringLiteral("data"));
    const QString settingsFile = tmp.filePath(QStringLiteral("conf/host.json"));
    const QStringList args{QStringLiteral("--data"), data, QStringLiteral("--settings"), settingsFile,
                           QStringLiteral("--products"), QStringLiteral("4"), QStringLiteral("--rate"),
                           QStringLiteral("0")};

    Run first = runHost(args);
    QVERIFY2(first.exitCode == 0, qPrintable(first.err.right(2000)));
    QJsonObject root = readJson(settingsFile);
    QVERIFY(root.value(QStringLiteral("Custom_TALVORIN")).toObject().contains(QStringLiteral("hckd")));
    QVERIFY(root.contains(QStringLiteral("StationHost")));

    // The operator's entries from an earlier session, plus a member of another plugin.
    QJsonObject panel;
    panel.insert(QStringLiteral("hckd"), QStringLiteral("12"));
    panel.insert(QStringLiteral("MaterialBarcode"), QStringLiteral("M-318"));
    panel.insert(QStringLiteral("OrderBarcode"), QStringLiteral("WO-7"));
    root.insert(QStringLiteral("Custom_TALVORIN"), panel);
    root.insert(QStringLiteral("VantrelPanel"), QJsonObject{{QStringLiteral("keep"), true}});
    QFile file(settingsFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
    file.close();

    Run second = runHost(args);
    QVERIFY2(second.exitCode == 0, qPrintable(second.err.right(2000)));
    QCOMPARE(second.summary.value(QStringLiteral("rows")).toInt(), 8);
    const QJsonObject saved = readJson(settingsFile);
    QCOMPARE(saved.value(QStringLiteral("Custom_TALVORIN")).toObject(), panel);
    QCOMPARE(saved.value(QStringLiteral("VantrelPanel")).toObject().value(QStringLiteral("keep")).toBool(), true);

    // The restored numbers reached the panel: the second run's rows carry them.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("barcodes"));
    db.setDatabaseName(QDir(data).filePath(QStringLiteral("DectDB/TLV.db")));
    QVERIFY(db.open());
    {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT barcode, COUNT(*) FROM product_data_new GROUP BY barcode ORDER BY barcode")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral(","));
        QCOMPARE(query.value(1).toInt(), 4);
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("M-318,WO-7"));
        QCOMPARE(query.value(1).toInt(), 4);
        QVERIFY(!query.next());
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("barcodes"));
}

void tst_stationhost::rejectsBadArguments()
{
    QTemporaryDir tmp;
    const Run run = runHost({QStringLiteral("--data"), tmp.filePath(QStringLiteral("d")), QStringLiteral("--products"),
                             QStringLiteral("many")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains(QStringLiteral("--products")));
    QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("d/DectDB/TLV.db"))));
}

QTEST_GUILESS_MAIN(tst_stationhost)
#include "tst_stationhost.moc"
