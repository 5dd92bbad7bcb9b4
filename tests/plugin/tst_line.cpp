// The product on the line: results judged (by the product being measured, without a panel),
// shown by the panel, cycles stored as rows of the product table, read back through a
// connection of the test's own (and, for hostile barcodes, through the report's worker); the
// panel's settings and run-mode handling, driven as the host drives it.
#include "Custom_TALVORIN.h"
#include "MeasuredProduct.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "ProductStatus.h"
#include "TLVDatasWork.h"
#include "TestHost.h"
#include "Tolerance.h"
#include "Widgets.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTimer>
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
        connect(&worker, &TLVDatasWork::Signal_FindResult,
            [&](bool, const Products &batch) { products += batch; });
        worker.Slot_FindData(
            QStringLiteral("0000-01-01 00:00:00"), QStringLiteral("9999-12-31 23:59:59"), QString());
        return products;
    }

    static void add(MeasuredProduct &product, const ProductProcessData &data)
    {
        product.add(data.results.constFirst());
    }

    QList<QLineEdit *> edits() const
    {
        return { f.edit(QStringLiteral("滑槽刻度")), f.edit(QStringLiteral("Material number")),
            f.edit(QStringLiteral("Order number")) };
    }

    // The position the panel shows for the first hole of a new product.
    QString firstPositionShown()
    {
        f.start();
        f.hole(8.0, 7.9, 8.1);
        return f.table()->item(0, 2)->text();
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }

    void init() { f.open(); }

    void cleanup()
    {
        f.close();
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
    }

    void productJudging_data()
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

    void productJudging()
    {
        QFETCH(double, value);
        QFETCH(double, low);
        QFETCH(double, up);
        QFETCH(bool, ok);
        QFETCH(bool, appearanceOk);
        QCOMPARE((Tolerance { low, up }.accepts(value)), ok);
        MeasuredProduct product;
        add(product, TestHost::hole(value, low, up));
        add(product, TestHost::appearance(7, true));
        add(product, TestHost::appearance(8, appearanceOk)); // the last one names the product
        QCOMPARE(product.holes().at(0).status, ok);
        QCOMPARE(product.isOk(), ok && appearanceOk);
        QCOMPARE(product.row(QString()).pid, 8);
        // A size out of its limits fails the product, not its status.
        add(product, TestHost::sizeGroup({ { QStringLiteral("宽度"), 5.0 } }, 0.0, 1.0));
        QVERIFY(!product.isOk());
        QCOMPARE(product.status(), (ok ? 1 : 0) | (appearanceOk ? 2 : 0));
        product.start();
        QVERIFY(product.isOk() && product.status() == 3 && product.holes().isEmpty()
            && product.sizeLines().isEmpty());
    }

    void productStatusText()
    {
        const QStringList table { "尺寸NG，外观NG", "外观NG", "尺寸NG", "", "" };
        for (int status = 0; status <= 4; ++status) {
            QCOMPARE(ProductStatus::text(status, u'，'), table.at(status));
            QCOMPARE(ProductStatus::text(status, u'、'), QString(table.at(status)).replace(u'，', u'、'));
        }
        QVERIFY(ProductStatus::text(-1, u'、').isNull());
    }

    void productExtremes_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("largest");
        QTest::addColumn<int>("smallest");
        QTest::newRow("later equal wins") << QList<double> { 2.0, 2.5, 2.5, 1.9 } << 2 << 3;
        QTest::newRow("all equal") << QList<double> { 2.0, 2.0, 2.0 } << 2 << 2;
        QTest::newRow("none") << QList<double> {} << -1 << -1;
    }

    void productExtremes()
    {
        QFETCH(QList<double>, values);
        QFETCH(int, largest);
        QFETCH(int, smallest);
        MeasuredProduct product;
        for (double value : values)
            add(product, TestHost::hole(value, 1.0, 3.0));
        QCOMPARE(product.largestHole(), largest);
        QCOMPARE(product.smallestHole(), smallest);
    }

    void productPositions_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("shown"); // position column of four holes
        QTest::newRow("trailing semicolon") << "P1,a;" << QStringList { "P1", "", "null", "null" };
        QTest::newRow("missing") << "" << QStringList { "", "null", "null", "null" };
        QTest::newRow("readings") << "250,c1;150,c2;0,c3;abc" << QStringList { "5", "150", "0", "abc" };
    }

    void productPositions()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, shown);
        MeasuredProduct product;
        product.setCameraPositions(value);
        for (int idx = 0; idx < 4; ++idx) {
            add(product, TestHost::hole(8.0, 7.9, 8.1));
            QCOMPARE(product.holePositionText(idx), shown.at(idx));
        }
    }
    void everyColumnStored()
    {
        f.end(); // an empty product first
        const StoredRow empty = f.rows().value(0);
        QCOMPARE((QStringList { empty.barcode, empty.diameter, empty.appearance }),
            (QStringList { ",", "[]", "[]" }));
        QVERIFY(empty.psize.isNull());
        QCOMPARE(empty.status, 3);
        QVERIFY(QDateTime::fromString(empty.uptime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());

        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("253,a;150;0;x"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        f.edit(QStringLiteral("Material number"))->setText(QStringLiteral("MAT-1"));
        f.edit(QStringLiteral("Order number"))->setText(QStringLiteral("ORD-9"));
        f.start();
        f.send(TestHost::sizeGroup({ { QStringLiteral("宽度1"), 12.5 }, { QStringLiteral("其他"), 99.0 },
                                       { QStringLiteral("宽度2"), 7.25 } },
            0.0, 20.0));
        f.send(TestHost::sizeGroup({ { QStringLiteral("TALVORIN长度"), 3.14159265 } }, 3.0, 3.2));
        for (double value : { 3.14159265, 2.0, 2.5, 1.5, 2.25 })
            f.hole(value);
        f.send(TestHost::appearance(41, true));
        f.end();
        QCOMPARE(f.list()->item(2)->text(), QStringLiteral("TALVORIN长度:\t3.14159"));
        QCOMPARE(f.table()->item(0, 1)->text() + f.table()->item(1, 1)->text(), QStringLiteral("NGOK"));
        QCOMPARE(f.table()->item(0, 1)->foreground().color(), QColor("#F56C6C"));
        QCOMPARE(f.table()->item(1, 1)->foreground().color(), QColor("#67C23A"));
        QCOMPARE(f.label()->text(), QStringLiteral("NG"));
        QCOMPARE(f.label()->styleSheet(), QStringLiteral("QLabel{color:white;background:#F56C6C;}"));
        QCOMPARE(f.table()->item(0, 0)->foreground().color(), QColor("#409EFF")); // largest
        QCOMPARE(f.table()->item(3, 0)->foreground().color(), QColor("#E6A23C")); // smallest
        const StoredRow row = f.rows().value(1);
        QCOMPARE(row.pid, 41);
        QCOMPARE(row.barcode, QStringLiteral("MAT-1,ORD-9"));
        QCOMPARE(row.psize, QStringLiteral("TALVORIN长度:3.14159;宽度1:12.5;宽度2:7.25"));
        QCOMPARE(row.status, 2);
        QCOMPARE(row.diameter,
            QStringLiteral(R"([{"idx":0,"position":5.300000190734863,"status":false,"value":3.14159265},)"
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
        QTest::newRow("quotes") << QStringLiteral("M'1\"2")
                                << QStringLiteral("'); drop table product_data_new; --");
        QTest::newRow("control characters") << QStringLiteral("\x01\x1f") << QStringLiteral("\x7f\r\n\t");
        QTest::newRow("NUL inside") << QStringLiteral("A") + QChar(0) + QStringLiteral("B")
                                    << QString(QChar(0));
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
        QCOMPARE(f.rows().value(0).barcode, barcode);
        const Products products = throughWorker();
        QCOMPARE(products.size(), 1);
        QCOMPARE(products.at(0)->barcode, barcode);
    }

    void cycleOrder()
    {
        f.start();
        f.hole(2.5);
        f.send(TestHost::sizeGroup({ { QStringLiteral("宽度"), 1.0 } }, 0.0, 2.0));
        f.end();
        QCOMPARE(f.label()->text(), QStringLiteral("OK"));
        QCOMPARE(f.label()->styleSheet(), QStringLiteral("QLabel{color:white;background:#67C23A;}"));
        // A single hole is both the largest and the smallest; the smallest's colour is painted last.
        QCOMPARE(f.table()->item(0, 0)->foreground().color(), QColor("#E6A23C"));
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
        for (const StoredRow &row : f.rows())
            pids << row.pid;
        QCOMPARE(pids, (QList<int> { 1, 2, 3, 4, 5 }));
    }

    void settings_data()
    {
        QTest::addColumn<QStringList>("texts"); // chute, material, order
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("all empty") << QStringList { "", "", "" } << QByteArray(R"({"hckd":""})");
        QTest::newRow("no material") << QStringList { "12", "", "A1" }
                                     << QByteArray(R"({"OrderBarcode":"A1","hckd":"12"})");
        QTest::newRow("all set") << QStringList { "3", "M", "O" }
                                 << QByteArray(R"({"MaterialBarcode":"M","OrderBarcode":"O","hckd":"3"})");
    }

    void settings()
    {
        QFETCH(QStringList, texts);
        QFETCH(QByteArray, saved);
        for (int i = 0; i < 3; ++i)
            edits().at(i)->setText(texts.at(i));
        QJsonObject object { { QStringLiteral("Other"), 5 } };
        f.panel()->serialize(object);
        QCOMPARE(object.value(QStringLiteral("Other")).toInt(), 5);
        QCOMPARE(QJsonDocument(object.value(QStringLiteral("Custom_TALVORIN")).toObject())
                     .toJson(QJsonDocument::Compact),
            saved);

        // Restored into a panel holding other texts: what was not saved stays as it is.
        for (QLineEdit *edit : edits())
            edit->setText(QStringLiteral("x"));
        f.panel()->deserialize(object);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(
                edits().at(i)->text(), texts.at(i).isEmpty() && i > 0 ? QStringLiteral("x") : texts.at(i));
        QCOMPARE(f.host()->materialNumbers.last(), edits().at(1)->text());
    }

    // "History" and "KeepDays" come back as the host set them and only then; "History": "1"
    // puts the history index beside the product table and the search field into the report.
    void historySwitch_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<bool>("on");
        QTest::newRow("never set") << QByteArray(R"({"hckd":"2"})") << false;
        QTest::newRow("on, keep 30 days")
            << QByteArray(R"({"History":"1","KeepDays":"30","hckd":"2"})") << true;
        QTest::newRow("off") << QByteArray(R"({"History":"0","hckd":"2"})") << false;
    }
    void historySwitch()
    {
        QFETCH(QByteArray, member);
        QFETCH(bool, on);
        QJsonObject settings { { QStringLiteral("Custom_TALVORIN"),
            QJsonDocument::fromJson(member).object() } };
        f.panel()->deserialize(settings);
        QJsonObject saved;
        f.panel()->serialize(saved);
        QCOMPARE(QJsonDocument(saved.value(QStringLiteral("Custom_TALVORIN")).toObject())
                     .toJson(QJsonDocument::Compact),
            member);
        const auto indexed = [&] {
            bool present = false;
            {
                QSqlDatabase db
                    = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
                db.setDatabaseName(f.dbPath());
                present = db.open() && db.tables().contains(QStringLiteral("tlv_index_time"));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("check"));
            return present;
        };
        if (on)
            QTRY_VERIFY(indexed());
        else
            QVERIFY(!indexed());
        QPointer<QDialog> report;
        bool searchField = false;
        QTimer::singleShot(0, [&] {
            report = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!report)
                return;
            searchField = report->findChild<QLineEdit *>(QStringLiteral("editBarcode")) != nullptr;
            report->reject();
        });
        buttonWithText(f.panel(), QStringLiteral("报表查询"))->click();
        QCOMPARE(searchField, on);
    }

    // A report closed by the operator is deleted with its worker thread: a host that opens it
    // every shift keeps neither.
    void closedReportIsDeleted()
    {
#ifndef Q_OS_LINUX
        QSKIP("counts the process's threads through /proc");
#else
        const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).count() - 2; };
        QPushButton *button = buttonWithText(f.panel(), QStringLiteral("报表查询"));
        QVERIFY(button);
        const int before = threads();
        for (int i = 0; i < 3; ++i) {
            QPointer<QDialog> report;
            QTimer::singleShot(0, [&] {
                report = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                if (report)
                    report->reject();
            });
            button->click();
            QVERIFY(report.isNull());
        }
        // A thread just joined can stay listed a moment.
        QTRY_COMPARE(threads(), before);
#endif
    }

    void cameraPositions()
    {
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("250,c1;150"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        QCOMPARE(f.host()->panelQueries, QStringList { QStringLiteral("VantrelPanel/strings") });
        QCOMPARE(firstPositionShown(), QStringLiteral("5"));
        // Only the run mode reads them again.
        f.host()->panelStrings.insert(QStringLiteral("VpKeys::strCamCbPos"), QStringLiteral("Q1"));
        for (CurMode mode : { CurMode_Stop, CurMode_Debug, static_cast<CurMode>(-4) })
            emit f.host()->curRunningModeChanged(mode);
        QCOMPARE(firstPositionShown(), QStringLiteral("5"));
        emit f.host()->curRunningModeChanged(CurMode_Run);
        QCOMPARE(firstPositionShown(), QStringLiteral("Q1"));
    }
};

QTEST_MAIN(LineTest)
#include "tst_line.moc"
