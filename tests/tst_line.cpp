// The panel on the line: results judged and shown, cycles stored as rows of the product
// table, read back through a connection of the test's own.
#include "Custom_TALVORIN.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "TestHost.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
} // namespace

class LineTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    void setEdit(const QString &placeholder, const QString &text) { f.edit(placeholder)->setText(text); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }

    void init()
    {
        MessageGuard::reset();
        f.open();
    }

    void cleanup()
    {
        f.close();
        QCOMPARE(MessageGuard::unexpected(), QStringList());
    }

    void createsTableOnce()
    {
        QVERIFY(QFile::exists(f.dbPath()));
        // An existing table is used as it is, without a message.
        f.reopen();
        f.start();
        f.end();
        QCOMPARE(f.rows().size(), 1);
    }

    void judging_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("up");
        QTest::addColumn<bool>("ok");
        QTest::newRow("inside") << 2.0 << 1.0 << 3.0 << true;
        QTest::newRow("equal to low") << 1.0 << 1.0 << 3.0 << true;
        QTest::newRow("equal to up") << 3.0 << 1.0 << 3.0 << true;
        QTest::newRow("just above up") << std::nextafter(3.0, 4.0) << 1.0 << 3.0 << false;
        QTest::newRow("below low") << 0.5 << 1.0 << 3.0 << false;
        QTest::newRow("NaN value") << NaN << 1.0 << 3.0 << false;
        QTest::newRow("NaN limit") << 2.0 << NaN << 3.0 << false;
        QTest::newRow("limits crossed") << 2.0 << 3.0 << 1.0 << false;
        QTest::newRow("infinite value") << qInf() << 1.0 << qInf() << true;
    }

    void judging()
    {
        QFETCH(double, value);
        QFETCH(double, low);
        QFETCH(double, up);
        QFETCH(bool, ok);
        f.start();
        f.hole(value, low, up);
        QCOMPARE(f.table()->item(0, 1)->text(), ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(f.table()->item(0, 1)->foreground().color(), QColor(ok ? "#67C23A" : "#F56C6C"));
        f.end();
        QCOMPARE(f.label()->text(), ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(f.rows().constLast().status, ok ? 3 : 2);
        const QJsonArray holes = QJsonDocument::fromJson(f.rows().constLast().diameter.toUtf8()).array();
        QCOMPARE(holes.at(0).toObject().value(QStringLiteral("status")).toBool(), ok);
    }

    void missingUpperLimitReadsZero()
    {
        ProductProcessData data = TestHost::hole(2.0, 1.0, 3.0);
        data.results[0].items.first().values.remove(QStringLiteral("UpTolerance"));
        f.start();
        emit f.host()->cameraDetectionCompleted(data);
        QCOMPARE(f.table()->item(0, 1)->text(), QStringLiteral("NG"));
        data.results[0].items.first().values.clear(); // 0 within [0, 0]
        emit f.host()->cameraDetectionCompleted(data);
        QCOMPARE(f.table()->item(1, 1)->text(), QStringLiteral("OK"));
    }

    void recordsThatAreIgnored_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("kind");
        QTest::newRow("no entry") << 0 << 1;
        QTest::newRow("two entries") << 2 << 1;
        QTest::newRow("kind 3") << 1 << 3;
        QTest::newRow("negative kind") << 1 << -1;
    }

    void recordsThatAreIgnored()
    {
        QFETCH(int, entries);
        QFETCH(int, kind);
        ProductProcessData one = TestHost::hole(0.0, 1.0, 3.0); // NG if it counted
        one.results[0].kind = kind;
        ProductProcessData data;
        for (int i = 0; i < entries; ++i)
            data.results.append(one.results.first());
        f.start();
        emit f.host()->cameraDetectionCompleted(data);
        f.end();
        QCOMPARE(f.table()->rowCount(), 0);
        QCOMPARE(f.label()->text(), QStringLiteral("OK"));
        QCOMPARE(f.rows().constLast().status, 3);
    }

    void sizeItems()
    {
        f.start();
        emit f.host()->cameraDetectionCompleted(TestHost::sizeGroup(
            { { QStringLiteral("宽度1"), 12.5 }, { QStringLiteral("其他"), 99.0 }, { QStringLiteral("宽度2"), 7.25 } },
            0.0, 20.0));
        emit f.host()->cameraDetectionCompleted(
            TestHost::sizeGroup({ { QStringLiteral("TALVORIN长度"), 3.14159265 } }, 3.0, 3.2));
        emit f.host()->cameraDetectionCompleted(TestHost::sizeGroup({ { QStringLiteral("宽度1"), 12.75 } }, 0.0, 20.0));
        QStringList lines;
        for (int i = 0; i < f.list()->count(); ++i)
            lines << f.list()->item(i)->text();
        QCOMPARE(lines, (QStringList { "宽度1:\t12.5", "宽度2:\t7.25", "TALVORIN长度:\t3.14159", "宽度1:\t12.75" }));
        f.end();
        QCOMPARE(f.rows().constLast().psize.toString(), QStringLiteral("TALVORIN长度:3.14159;宽度1:12.75;宽度2:7.25"));
        QCOMPARE(f.rows().constLast().status, 3);
    }

    void sizeNgChangesOnlyTheVerdict()
    {
        f.start();
        emit f.host()->cameraDetectionCompleted(TestHost::sizeGroup({ { QStringLiteral("宽度"), NaN } }, 0.0, 20.0));
        f.end();
        QCOMPARE(f.label()->text(), QStringLiteral("NG"));
        QCOMPARE(f.label()->styleSheet(), QStringLiteral("QLabel{color:white;background:#F56C6C;}"));
        QCOMPARE(f.rows().constLast().status, 3);
        QCOMPARE(f.rows().constLast().psize.toString(), QStringLiteral("宽度:nan"));
    }

    void emptyProduct()
    {
        f.end();
        const PanelFixture::Row row = f.rows().constLast();
        QCOMPARE(row.diameter, QStringLiteral("[]"));
        QCOMPARE(row.appearance, QStringLiteral("[]"));
        QVERIFY(row.psize.isNull());
        QCOMPARE(row.status, 3);
        QCOMPARE(row.barcode.toString(), QStringLiteral(","));
        QCOMPARE(f.label()->text(), QStringLiteral("OK"));
        QVERIFY(QDateTime::fromString(row.uptime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    }

    void holesAndPositions()
    {
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("253,a;150;0;x"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        setEdit(QStringLiteral("Material number"), QStringLiteral("MAT-1"));
        setEdit(QStringLiteral("Order number"), QStringLiteral("ORD-9"));
        f.start();
        for (double value : { 3.14159265, 2.0, 2.5, 1.5, 2.2 })
            f.hole(value);
        emit f.host()->cameraDetectionCompleted(TestHost::appearance(41, true));
        f.end();
        QCOMPARE(f.table()->item(0, 0)->text(), QStringLiteral("3.14159"));
        QCOMPARE(f.table()->item(1, 0)->text(), QStringLiteral("2.00000"));
        QStringList shown;
        for (int r = 0; r < 5; ++r)
            shown << f.table()->item(r, 2)->text();
        QCOMPARE(shown, (QStringList { "5.3", "150", "0", "x", "null" }));

        const PanelFixture::Row row = f.rows().constLast();
        QCOMPARE(row.pid, 41);
        QCOMPARE(row.barcode.toString(), QStringLiteral("MAT-1,ORD-9"));
        QCOMPARE(row.status, 2);
        const QJsonArray holes = QJsonDocument::fromJson(row.diameter.toUtf8()).array();
        QCOMPARE(holes.size(), 5);
        const QList<double> stored { double(5.3f), -5.0, 0.0, 0.0, -1.0 };
        for (int i = 0; i < 5; ++i) {
            const QJsonObject o = holes.at(i).toObject();
            QCOMPARE(o.value(QStringLiteral("idx")).toInt(), i);
            QCOMPARE(o.value(QStringLiteral("position")).toDouble(), stored.at(i));
        }
        QVERIFY(row.diameter.startsWith(QStringLiteral(R"([{"idx":0,"position":5.)")));
        QCOMPARE(holes.at(0).toObject().value(QStringLiteral("value")).toDouble(), 3.14159265);
        QCOMPARE(holes.at(0).toObject().value(QStringLiteral("status")).toBool(), false);
        QCOMPARE(row.appearance, QStringLiteral(R"([{"idx":0,"ngtypes":[],"position":0,"status":true}])"));
    }

    void extremeDiameters_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("largest");
        QTest::addColumn<int>("smallest");
        QTest::newRow("later equal wins") << QList<double> { 2.0, 2.5, 2.5, 1.9 } << 2 << 3;
        QTest::newRow("single hole") << QList<double> { 2.0 } << -1 << 0; // smallest painted last
        QTest::newRow("all equal") << QList<double> { 2.0, 2.0, 2.0 } << -1 << 2;
        QTest::newRow("first largest") << QList<double> { 2.9, 1.1, 2.0 } << 0 << 1;
    }

    void extremeDiameters()
    {
        QFETCH(QList<double>, values);
        QFETCH(int, largest);
        QFETCH(int, smallest);
        f.start();
        for (double value : values)
            f.hole(value);
        for (int row = 0; row < values.size(); ++row)
            QCOMPARE(f.table()->item(row, 0)->foreground().style(), Qt::NoBrush);
        f.end();
        for (int row = 0; row < values.size(); ++row) {
            const QBrush brush = f.table()->item(row, 0)->foreground();
            if (row == smallest)
                QCOMPARE(brush.color(), QColor("#E6A23C"));
            else if (row == largest)
                QCOMPARE(brush.color(), QColor("#409EFF"));
            else
                QCOMPARE(brush.style(), Qt::NoBrush);
        }
    }

    void statusBits_data()
    {
        QTest::addColumn<bool>("holeOk");
        QTest::addColumn<bool>("appearanceOk");
        QTest::addColumn<int>("status");
        QTest::newRow("both OK") << true << true << 3;
        QTest::newRow("hole NG") << false << true << 2;
        QTest::newRow("appearance NG") << true << false << 1;
        QTest::newRow("both NG") << false << false << 0;
    }

    void statusBits()
    {
        QFETCH(bool, holeOk);
        QFETCH(bool, appearanceOk);
        QFETCH(int, status);
        f.start();
        f.hole(holeOk ? 2.0 : 9.0);
        emit f.host()->cameraDetectionCompleted(TestHost::appearance(7, true));
        emit f.host()->cameraDetectionCompleted(TestHost::appearance(8, appearanceOk));
        f.end();
        const PanelFixture::Row row = f.rows().constLast();
        QCOMPARE(row.status, status);
        QCOMPARE(row.pid, 8);
        QCOMPARE(f.label()->text(), status == 3 ? QStringLiteral("OK") : QStringLiteral("NG"));
        const QJsonArray findings = QJsonDocument::fromJson(row.appearance.toUtf8()).array();
        QCOMPARE(findings.size(), 2);
        QCOMPARE(findings.at(1).toObject().value(QStringLiteral("idx")).toInt(), 1);
    }

    void cycleBoundaries()
    {
        f.start();
        f.hole(9.0);
        f.end();
        QCOMPARE(f.rows().size(), 1);
        // A result after the end joins the stored product; a second end stores it all again.
        f.hole(2.0);
        f.end();
        QCOMPARE(f.rows().size(), 2);
        QCOMPARE(QJsonDocument::fromJson(f.rows().constLast().diameter.toUtf8()).array().size(), 2);
        f.start();
        QCOMPARE(f.table()->rowCount(), 0);
        QCOMPARE(f.list()->count(), 0);
        QCOMPARE(f.label()->text(), QStringLiteral("检测中..."));
        QCOMPARE(f.label()->styleSheet(), QStringLiteral("color:white;background:#303133"));
        // Other events change nothing; a text holding both names starts a cycle.
        f.hole(2.0);
        emit f.host()->Signal_McEvent(TestHost::mcu(QStringLiteral("DoorOpen")));
        QCOMPARE(f.table()->rowCount(), 1);
        emit f.host()->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd+CamLenStart")));
        QCOMPARE(f.table()->rowCount(), 0);
        QCOMPARE(f.rows().size(), 2);
    }

    void walAndConcurrentRead()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("longread"));
            db.setDatabaseName(f.dbPath());
            QVERIFY(db.open());
            QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), db);
            QVERIFY(mode.next());
            QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
            mode.finish();
            QSqlQuery fill(db);
            QVERIFY(fill.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<5000) "
                                             "INSERT INTO product_data_new (uptime,pid,barcode,diameter,appearance,status) "
                                             "SELECT '2024-01-01 00:00:00', i, 'b', '[]', '[]', 3 FROM n")));
            // A reader in the middle of a long SELECT holds its snapshot...
            QSqlQuery reader(db);
            reader.setForwardOnly(true);
            QVERIFY(reader.exec(QStringLiteral("select * from product_data_new")));
            for (int i = 0; i < 10; ++i)
                QVERIFY(reader.next());
            // ...while the panel stores a product.
            f.start();
            f.hole(2.0);
            f.end();
            QVERIFY(reader.next());
            reader.finish();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("longread"));
        QCOMPARE(f.rows().size(), 5001);
        QCOMPARE(QJsonDocument::fromJson(f.rows().constLast().diameter.toUtf8()).array().size(), 1);
    }

    void insertRecoversAfterFailure()
    {
        f.start();
        f.end();
        const auto onReader = [this](const QString &sql) {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("admin"));
                db.setDatabaseName(f.dbPath());
                QVERIFY(db.open());
                QSqlQuery query(db);
                QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        };
        onReader(QStringLiteral("alter table product_data_new rename to product_data_old"));
        MessageGuard::expect(QRegularExpression(QStringLiteral("Unable to insert data")));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("Unable to insert data.*no such table")));
        f.end();
        onReader(QStringLiteral("create table product_data_new as select * from product_data_old where 0"));
        f.end();
        QCOMPARE(f.rows().size(), 1);
    }

    void secondPanelSharesConnection()
    {
        TestHost other;
        other.base = QStringLiteral("/nonexistent");
        Custom_TALVORIN prototype;
        std::unique_ptr<PluginWidget> second(prototype.create(&other));
        emit other.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
        QCOMPARE(f.rows().size(), 1); // stored in the first panel's file
    }

    void missingFolder()
    {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Error: Unable to open database")));
        MessageGuard::expect(QRegularExpression(QStringLiteral("FilterGroup DB Open failed.")));
        f.open(false);
        f.start();
        f.hole(2.0);
        QTest::ignoreMessage(QtCriticalMsg, "FilterGroup DB Open failed.");
        f.end();
        // The panel goes on judging and showing.
        QCOMPARE(f.label()->text(), QStringLiteral("OK"));
        QCOMPARE(f.table()->rowCount(), 1);
        QVERIFY(!QFile::exists(f.dbPath()));
    }
};

QTEST_MAIN(LineTest)
#include "tst_line.moc"
