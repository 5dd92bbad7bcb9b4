// The panel on the line: results judged and shown, cycles stored as rows of the product
// table, read back through a connection of the test's own (and, for hostile barcodes, through
// the report's worker).
#include "Custom_TALVORIN.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "TLVDatasWork.h"
#include "TestHost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using Products = QList<std::shared_ptr<tlv::ProductInfo>>;

class LineTest : public QObject
{
    Q_OBJECT

    PanelFixture f;

    // The products of the file as the report's worker reads them.
    Products throughWorker() const
    {
        TLVDatasWork worker(f.dbPath());
        Products products;
        connect(&worker, &TLVDatasWork::Signal_FindResult, [&](bool, const Products &batch) { products += batch; });
        worker.Slot_FindData(QStringLiteral("0000-01-01 00:00:00"), QStringLiteral("9999-12-31 23:59:59"), QString());
        return products;
    }

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

    void judging_data()
    {
        const double NaN = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("up");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("appearanceOk");
        QTest::newRow("inside") << 2.0 << 1.0 << 3.0 << true << true;
        QTest::newRow("equal to low") << 1.0 << 1.0 << 3.0 << true << true;
        QTest::newRow("equal to up") << 3.0 << 1.0 << 3.0 << true << true;
        QTest::newRow("just above up") << std::nextafter(3.0, 4.0) << 1.0 << 3.0 << false << true;
        QTest::newRow("just below low") << std::nextafter(1.0, 0.0) << 1.0 << 3.0 << false << true;
        QTest::newRow("NaN value") << NaN << 1.0 << 3.0 << false << true;
        QTest::newRow("NaN limit") << 2.0 << NaN << 3.0 << false << true;
        QTest::newRow("limits crossed") << 2.0 << 3.0 << 1.0 << false << true;
        QTest::newRow("infinite value and limit") << qInf() << 1.0 << qInf() << true << true;
        QTest::newRow("appearance NG") << 2.0 << 1.0 << 3.0 << true << false;
        QTest::newRow("both NG") << 0.0 << 1.0 << 3.0 << false << false;
    }

    void judging()
    {
        QFETCH(double, value);
        QFETCH(double, low);
        QFETCH(double, up);
        QFETCH(bool, ok);
        QFETCH(bool, appearanceOk);
        f.start();
        f.hole(value, low, up);
        f.send(TestHost::appearance(7, true));
        f.send(TestHost::appearance(8, appearanceOk)); // the last one names the product
        QCOMPARE(f.table()->item(0, 1)->text(), ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(f.table()->item(0, 1)->foreground().color(), QColor(ok ? "#67C23A" : "#F56C6C"));
        f.end();
        const bool productOk = ok && appearanceOk;
        QCOMPARE(f.label()->text(), productOk ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(f.label()->styleSheet(), productOk ? QStringLiteral("QLabel{color:white;background:#67C23A;}")
                                                    : QStringLiteral("QLabel{color:white;background:#F56C6C;}"));
        const PanelFixture::Row row = f.rows().constLast();
        QCOMPARE(row.status, (ok ? 1 : 0) | (appearanceOk ? 2 : 0));
        QCOMPARE(row.pid, 8);
        QCOMPARE(QJsonDocument::fromJson(row.diameter.toUtf8()).array().at(0).toObject().value(QStringLiteral("status")).toBool(), ok);
    }

    void everyColumnStored()
    {
        f.end(); // an empty product first
        const PanelFixture::Row empty = f.rows().constLast();
        QCOMPARE((QStringList { empty.barcode.toString(), empty.diameter, empty.appearance }), (QStringList { ",", "[]", "[]" }));
        QVERIFY(empty.psize.isNull());
        QCOMPARE(empty.status, 3);
        QVERIFY(QDateTime::fromString(empty.uptime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());

        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("253,a;150;0;x"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        f.edit(QStringLiteral("Material number"))->setText(QStringLiteral("MAT-1"));
        f.edit(QStringLiteral("Order number"))->setText(QStringLiteral("ORD-9"));
        f.start();
        f.send(TestHost::sizeGroup(
            { { QStringLiteral("宽度1"), 12.5 }, { QStringLiteral("其他"), 99.0 }, { QStringLiteral("宽度2"), 7.25 } }, 0.0, 20.0));
        f.send(TestHost::sizeGroup({ { QStringLiteral("TALVORIN长度"), 3.14159265 } }, 3.0, 3.2));
        for (double value : { 3.14159265, 2.0, 2.5, 1.5, 2.25 })
            f.hole(value);
        f.send(TestHost::appearance(41, true));
        f.end();
        QCOMPARE(f.list()->item(2)->text(), QStringLiteral("TALVORIN长度:\t3.14159"));
        const PanelFixture::Row row = f.rows().constLast();
        QCOMPARE(row.pid, 41);
        QCOMPARE(row.barcode.toString(), QStringLiteral("MAT-1,ORD-9"));
        QCOMPARE(row.psize.toString(), QStringLiteral("TALVORIN长度:3.14159;宽度1:12.5;宽度2:7.25"));
        QCOMPARE(row.status, 2);
        QCOMPARE(row.diameter, QStringLiteral(R"([{"idx":0,"position":5.300000190734863,"status":false,"value":3.14159265},)"
                                              R"({"idx":1,"position":-5,"status":true,"value":2},)"
                                              R"({"idx":2,"position":0,"status":true,"value":2.5},)"
                                              R"({"idx":3,"position":0,"status":true,"value":1.5},)"
                                              R"({"idx":4,"position":-1,"status":true,"value":2.25}])"));
        QCOMPARE(row.appearance, QStringLiteral(R"([{"idx":0,"ngtypes":[],"position":0,"status":true}])"));
    }

    void hostileBarcode_data()
    {
        QTest::addColumn<QString>("material");
        QTest::addColumn<QString>("order");
        QTest::newRow("quotes") << QStringLiteral("M'1\"2") << QStringLiteral("'); drop table product_data_new; --");
        QTest::newRow("control characters") << QStringLiteral("\x01\x1f") << QStringLiteral("\x7f\r\n\t");
        QTest::newRow("NUL inside") << QStringLiteral("A") + QChar(0) + QStringLiteral("B") << QString(QChar(0));
        QTest::newRow("astral and separators") << QString::fromUtf8("料号😀") << QStringLiteral(",;:");
        QTest::newRow("long") << QString(100000, QLatin1Char('M')) << QString(100000, QLatin1Char('O'));
    }

    void hostileBarcode()
    {
        QFETCH(QString, material);
        QFETCH(QString, order);
        f.edit(QStringLiteral("Material number"))->setText(material);
        f.edit(QStringLiteral("Order number"))->setText(order);
        f.end();
        // Whatever the line edits keep of the input is what the row carries, up to the report.
        const QString barcode = f.edit(QStringLiteral("Material number"))->text() + QLatin1Char(',')
                                + f.edit(QStringLiteral("Order number"))->text();
        QCOMPARE(f.rows().constLast().barcode.toString(), barcode);
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        QCOMPARE(products.at(0)->barcode, barcode);
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

    void cycleOrder()
    {
        f.start();
        f.hole(9.0);
        f.end();
        // A result after the end joins the stored product; a second end stores it all again.
        f.hole(2.0);
        f.end();
        QCOMPARE(f.rows().size(), 2);
        QCOMPARE(QJsonDocument::fromJson(f.rows().constLast().diameter.toUtf8()).array().size(), 2);
        f.start();
        QCOMPARE(f.table()->rowCount() + f.list()->count(), 0);
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

    void twoPanelsShareTheFile()
    {
        // A layout reload builds a second panel from the prototype while the first keeps working.
        f.send(TestHost::appearance(1, true));
        f.end();
        TestHost other;
        other.base = QStringLiteral("/nonexistent");
        Custom_TALVORIN prototype;
        std::unique_ptr<PluginWidget> second(prototype.create(&other));
        for (int pid = 2; pid <= 5; ++pid) {
            TestHost *host = pid % 2 ? &other : f.host();
            emit host->cameraDetectionCompleted(TestHost::appearance(pid, true));
            emit host->Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenEnd")));
        }
        QList<int> pids;
        for (const PanelFixture::Row &row : f.rows())
            pids << row.pid;
        QCOMPARE(pids, (QList<int> { 1, 2, 3, 4, 5 }));
    }
};

QTEST_MAIN(LineTest)
#include "tst_line.moc"
