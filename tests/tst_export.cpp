#include "CurrentProductWorkbookWriter.h"
#include "Custom_TALVORIN.h"
#include "FileReveal.h"
#include "HoleEntry.h"
#include "MessageGuard.h"
#include "ProductInfo.h"
#include "ReportTable.h"
#include "ReportWorkbookWriter.h"
#include "SaveFilePrompt.h"
#include "TestHost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>

using Holes = QList<std::tuple<int, bool, QString>>;
using ProductPtr = std::shared_ptr<tlv::ProductInfo>;

Q_DECLARE_METATYPE(Holes)

namespace {

const QString red = QStringLiteral("FFFF0000");
const QString blue = QStringLiteral("FF0000FF");
const QString darkYellow = QStringLiteral("FF808000");

ProductPtr product(const QString &barcode, int status, const Holes &holes = {}, int pid = 1)
{
    auto p = std::make_shared<tlv::ProductInfo>();
    p->uptime = QStringLiteral("2024-03-01 08:15:30");
    p->pid = pid;
    p->barcode = barcode;
    p->psize = QStringLiteral("120.5*30.2");
    p->status = status;
    for (const auto &h : holes) {
        auto hole = std::make_shared<tlv::HoleInfo>();
        hole->idx = std::get<0>(h);
        hole->status = std::get<1>(h);
        hole->value = std::get<2>(h);
        hole->position = QStringLiteral("5.3");
        p->vtHoles.append(hole);
    }
    return p;
}

// The workbook as openpyxl reads it (see read_xlsx.py); empty when it cannot be read.
QJsonObject readBook(const QString &path, bool rowsOnly = false)
{
    QStringList arguments{QFINDTESTDATA("read_xlsx.py"), path};
    if (rowsOnly)
        arguments << QStringLiteral("--rows");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        qWarning().noquote() << "openpyxl cannot read" << path << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QJsonObject cell(const QJsonObject &book, const QString &ref)
{
    return book.value(QStringLiteral("cells")).toObject().value(ref).toObject();
}

QJsonValue value(const QJsonObject &book, const QString &ref)
{
    return cell(book, ref).value(QStringLiteral("v"));
}

QString type(const QJsonObject &book, const QString &ref)
{
    return cell(book, ref).value(QStringLiteral("t")).toString();
}

bool centredCalibri(const QJsonObject &c)
{
    return c.value(QStringLiteral("font")).toString() == QLatin1String("Calibri")
        && c.value(QStringLiteral("h")).toString() == QLatin1String("center")
        && c.value(QStringLiteral("vert")).toString() == QLatin1String("center");
}

QString colour(const QJsonObject &book, const QString &ref)
{
    return cell(book, ref).value(QStringLiteral("color")).toString();
}

void expectCritical(const QString &pattern)
{
    const QRegularExpression re(pattern);
    MessageGuard::expect(re);
    QTest::ignoreMessage(QtCriticalMsg, re);
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("DectDB")));
    }
    void cleanup()
    {
        SaveFilePrompt::setOverride({});
        FileReveal::setLauncher({});
        QCOMPARE(MessageGuard::unexpected(), QStringList());
        MessageGuard::reset();
    }

    void reportBarcode_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<QString>("material");
        QTest::addColumn<QString>("order");
        QTest::newRow("both") << "M,O" << "M" << "O";
        QTest::newRow("no comma") << "M" << "M" << QString();
        QTest::newRow("leading comma") << ",O" << QString() << "O";
        QTest::newRow("empty") << "" << QString() << QString();
        QTest::newRow("three parts") << "a,b,c" << "a" << "b";
    }
    void reportBarcode()
    {
        QFETCH(QString, barcode);
        QFETCH(QString, material);
        QFETCH(QString, order);
        const QString file = path(QStringLiteral("barcode.xlsx"));
        QVERIFY(ReportWorkbookWriter::write(file, {product(barcode, 3)}));
        const QJsonObject book = readBook(file);
        QVERIFY(!book.isEmpty());
        QCOMPARE(value(book, "C2").toString(), material);
        QCOMPARE(value(book, "D2").toString(), order);
        QCOMPARE(type(book, "C2"), material.isEmpty() ? QString() : QStringLiteral("str"));
    }

    void reportResult_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("3") << 3 << QVariant(QStringLiteral("OK"));
        QTest::newRow("2") << 2 << QVariant(QStringLiteral("尺寸NG"));
        QTest::newRow("1") << 1 << QVariant(QStringLiteral("外观NG"));
        QTest::newRow("0") << 0 << QVariant(QStringLiteral("尺寸NG、外观NG"));
        QTest::newRow("7") << 7 << QVariant(7);
        QTest::newRow("-1") << -1 << QVariant(-1);
    }
    void reportResult()
    {
        QFETCH(int, status);
        QFETCH(QVariant, expected);
        const QString file = path(QStringLiteral("result.xlsx"));
        QVERIFY(ReportWorkbookWriter::write(file, {product(QStringLiteral("M,O"), status)}));
        const QJsonObject book = readBook(file);
        QCOMPARE(value(book, "E2").toVariant(), expected);
        QCOMPARE(type(book, "E2"), expected.userType() == QMetaType::Int ? QStringLiteral("int") : QStringLiteral("str"));
    }

    void reportRows()
    {
        const QString file = path(QStringLiteral("rows.xlsx"));
        const Holes holes{{0, true, "12.5"}, {1, false, "3"}, {2, false, "1.2e-05"}, {2, true, "4"}};
        QVERIFY(ReportWorkbookWriter::write(file, {product("M,O", 2, holes, 17), nullptr,
                                                   product("N,P", 3, {{0, true, "7"}}, 18)}));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("sheets").toInt(), 1);
        QCOMPARE(book.value("max_row").toInt(), 3);
        const QStringList headers{"Time", "ProductID", "Material number", "Order number", "Result", "Length",
                                  "Diameter"};
        for (int c = 0; c < headers.size(); ++c) {
            const QString ref = QString(QChar('A' + c)) + "1";
            QCOMPARE(value(book, ref).toString(), headers.at(c));
            QVERIFY(cell(book, ref).value("h").isNull());
        }
        // Four holes, even though two share a column.
        QCOMPARE(book.value("merged").toArray(), QJsonArray{"G1:J1"});

        QCOMPARE(value(book, "A2").toString(), QStringLiteral("2024-03-01 08:15:30"));
        QCOMPARE(type(book, "A2"), QStringLiteral("str"));
        QCOMPARE(value(book, "B2").toInt(), 17);
        QCOMPARE(type(book, "B2"), QStringLiteral("int"));
        QCOMPARE(value(book, "F2").toString(), QStringLiteral("120.5*30.2"));
        QVERIFY(cell(book, "F2").value("h").isNull());

        // Hole values stay the texts they were, in column 7 + idx; the later idx 2 wins.
        const QStringList values{"12.5", "3", "4"};
        const QStringList colours{QString(), red, QString()};
        for (int i = 0; i < 3; ++i) {
            const QString ref = QString(QChar('G' + i)) + "2";
            QCOMPARE(value(book, ref).toString(), values.at(i));
            QCOMPARE(type(book, ref), QStringLiteral("str"));
            QVERIFY2(centredCalibri(cell(book, ref)), qPrintable(ref));
            QCOMPARE(colour(book, ref), colours.at(i));
        }
        // The null product takes no row.
        QCOMPARE(value(book, "B3").toInt(), 18);
        QCOMPARE(value(book, "C3").toString(), QStringLiteral("N"));
    }

    void reportMerge_data()
    {
        QTest::addColumn<QList<int>>("holeCounts");
        QTest::addColumn<QJsonArray>("merged");
        QTest::newRow("widest 3") << QList<int>{1, 3, 2} << QJsonArray{"G1:I1"};
        QTest::newRow("widest 2") << QList<int>{2} << QJsonArray{"G1:H1"};
        QTest::newRow("widest 1") << QList<int>{1, 0} << QJsonArray{};
        QTest::newRow("no holes") << QList<int>{0} << QJsonArray{};
        QTest::newRow("no products") << QList<int>{} << QJsonArray{};
    }
    void reportMerge()
    {
        QFETCH(QList<int>, holeCounts);
        QFETCH(QJsonArray, merged);
        QList<ProductPtr> products;
        for (int count : qAsConst(holeCounts)) {
            Holes holes;
            for (int i = 0; i < count; ++i)
                holes.append({10 + i, true, "1"}); // the merge follows the count, not the numbers
            products << product("M,O", 3, holes);
        }
        const QString file = path(QStringLiteral("merge.xlsx"));
        QVERIFY(ReportWorkbookWriter::write(file, products));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("merged").toArray(), merged);
        QCOMPARE(value(book, "G1").toString(), QStringLiteral("Diameter"));
    }

    void reportHoleColumnLimits()
    {
        Holes holes{{-1, true, "neg"}, {16377, false, "last"}, {16378, true, "beyond"}};
        const QString file = path(QStringLiteral("columns.xlsx"));
        expectCritical("2 hole\\(s\\) numbered below 0 or above 16377 .* the first hole -1 of product 1$");
        QVERIFY(ReportWorkbookWriter::write(file, {product("M,O", 3, holes)}));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("max_column").toInt(), 16384);
        QCOMPARE(value(book, "XFD2").toString(), QStringLiteral("last"));
        QCOMPARE(colour(book, "XFD2"), red);
        QCOMPARE(book.value("merged").toArray(), QJsonArray{"G1:I1"});
    }

    void reportWidestBeyondLastColumn()
    {
        Holes holes;
        for (int i = 0; i < 16380; ++i)
            holes.append({i, true, "1"});
        const QString file = path(QStringLiteral("wide.xlsx"));
        expectCritical("16380 holes; the header merge stops at the last column 16384");
        expectCritical("2 hole\\(s\\) numbered below 0 or above 16377");
        QVERIFY(ReportWorkbookWriter::write(file, {product("M,O", 3, holes)}));
        QCOMPARE(readBook(file).value("merged").toArray(), QJsonArray{"G1:XFD1"});
    }

    void reportMoreProductsThanRows()
    {
        // One shared record stands for every product; only the row count matters here.
        auto p = product(QString(), 3);
        p->uptime.clear();
        p->psize.clear();
        QList<ProductPtr> products;
        products.reserve(1048578);
        for (int i = 0; i < 1048578; ++i)
            products.append(p);
        const QString file = path(QStringLiteral("rowlimit.xlsx"));
        expectCritical("the sheet holds 1048576 rows; 3 product\\(s\\) after the first 1048575 were left out");
        QVERIFY(ReportWorkbookWriter::write(file, products));
        const QJsonObject rows = readBook(file, true);
        QCOMPARE(rows.value("rows").toInt(), 1048576);
        QCOMPARE(rows.value("last").toObject().value("r").toInt(), 1048576);
        QCOMPARE(rows.value("last").toObject().value("cells").toObject().value("E").toString(), QStringLiteral("OK"));
        QFile::remove(file);
    }

    void longText()
    {
        const QString file = path(QStringLiteral("long.xlsx"));
        const QString fits(32767, QLatin1Char('f'));
        QString surrogateAtEdge = QString(32766, QLatin1Char('s')) + QString::fromUcs4(U"\U0001F600") + "tail";
        expectCritical("long.xlsx: 2 text\\(s\\) longer than a cell holds \\(32767 characters\\) were cut to fit, "
                       "the first at row 2, column 3$");
        QVERIFY(ReportWorkbookWriter::write(file, {product(QString(40000, QLatin1Char('m')) + ",order", 3),
                                                   product(fits + "," + surrogateAtEdge, 3)}));
        const QJsonObject book = readBook(file);
        QCOMPARE(value(book, "C2").toString(), QString(32767, QLatin1Char('m')));
        QCOMPARE(value(book, "D2").toString(), QStringLiteral("order"));
        QCOMPARE(value(book, "C3").toString(), fits);
        // The emoji would need two more units; it is not split.
        QCOMPARE(value(book, "D3").toString(), QString(32766, QLatin1Char('s')));
    }

    void controlCharacters()
    {
        // GS1 barcodes separate their fields with GS (0x1D), which XML cannot carry.
        const QString file = path(QStringLiteral("gs1.xlsx"));
        const QString material = QStringLiteral("0104012345678901\x1d" "10ABC");
        expectCritical("gs1.xlsx: 2 text\\(s\\) held control characters .* first at row 2, column 3$");
        QVERIFY(ReportWorkbookWriter::write(file, {product(material + ",A_x0041_\r\n", 3)}));
        const QJsonObject book = readBook(file);
        QVERIFY(!book.isEmpty());
        // openpyxl shows the escapes; Excel turns them back into the original characters.
        QCOMPARE(value(book, "C2").toString(), QStringLiteral("0104012345678901_x001D_10ABC"));
        QCOMPARE(value(book, "D2").toString(), QStringLiteral("A_x005F_x0041__x000D_\n"));
    }

    void currentEmpty()
    {
        const QString file = path(QStringLiteral("empty.xlsx"));
        QVERIFY(CurrentProductWorkbookWriter::write(file, {}, {}));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("max_row").toInt(), 1);
        const QStringList headers{"order", "value", "result", "postion", QString(), "length", "value"};
        for (int c = 0; c < headers.size(); ++c)
            QCOMPARE(value(book, QString(QChar('A' + c)) + "1").toString(), headers.at(c));
        QCOMPARE(book.value("merged").toArray(), QJsonArray());
    }

    void currentColours_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QStringList>("colours");
        QTest::newRow("one") << QList<double>{2.0} << QStringList{QString()};
        QTest::newRow("two") << QList<double>{2.5, 2.0} << QStringList{blue, darkYellow};
        QTest::newRow("two equal") << QList<double>{2.0, 2.0} << QStringList{blue, blue};
        QTest::newRow("nine") << QList<double>{5, 1, 9, 3, 7, 2, 8, 4, 6}
                              << QStringList{QString(), darkYellow, blue, darkYellow, blue,
                                             darkYellow, blue, darkYellow, blue};
        QTest::newRow("five") << QList<double>{1, 2, 3, 4, 5}
                              << QStringList{darkYellow, darkYellow, QString(), blue, blue};
    }
    void currentColours()
    {
        QFETCH(QList<double>, values);
        QFETCH(QStringList, colours);
        QList<HoleEntry> holes;
        for (int i = 0; i < values.size(); ++i)
            holes.append({i, true, values.at(i), 1.0f});
        const QString file = path(QStringLiteral("colours.xlsx"));
        QVERIFY(CurrentProductWorkbookWriter::write(file, holes, {}));
        const QJsonObject book = readBook(file);
        for (int i = 0; i < values.size(); ++i) {
            const QString ref = QStringLiteral("B%1").arg(i + 2);
            QCOMPARE(value(book, ref).toDouble(), values.at(i));
            QVERIFY(type(book, ref) == "int" || type(book, ref) == "float");
            QVERIFY2(centredCalibri(cell(book, ref)), qPrintable(ref));
            QCOMPARE(colour(book, ref), colours.at(i));
        }
    }

    void currentHoleRow()
    {
        const QString file = path(QStringLiteral("hole.xlsx"));
        QVERIFY(CurrentProductWorkbookWriter::write(file, {{4, false, 3.14159265, 5.3f}, {5, true, 2.0, -1.0f}}, {}));
        const QJsonObject book = readBook(file);
        QCOMPARE(value(book, "A2").toInt(), 5);
        QCOMPARE(type(book, "A2"), QStringLiteral("int"));
        QVERIFY(cell(book, "A2").value("h").isNull());
        QCOMPARE(value(book, "B2").toDouble(), 3.14159265);
        QCOMPARE(value(book, "C2").toString(), QStringLiteral("NG"));
        QCOMPARE(colour(book, "C2"), red);
        QVERIFY(centredCalibri(cell(book, "C2")));
        QCOMPARE(value(book, "C3").toString(), QStringLiteral("OK"));
        QCOMPARE(colour(book, "C3"), QString());
        QVERIFY(centredCalibri(cell(book, "C3")));
        QCOMPARE(type(book, "D2"), QStringLiteral("float"));
        QCOMPARE(value(book, "D2").toDouble(), double(5.3f));
        QVERIFY(cell(book, "D2").value("h").isNull());
        QCOMPARE(value(book, "D3").toInt(), -1);
    }

    void currentSizeLines()
    {
        const QString file = path(QStringLiteral("lines.xlsx"));
        const QStringList lines{QStringLiteral("TALVORIN长度:\t120.5"), QStringLiteral("宽度:a:\t30"),
                                QStringLiteral("bare"), QStringLiteral(":\t7")};
        QVERIFY(CurrentProductWorkbookWriter::write(file, {{0, true, 2.0, 1.0f}}, lines));
        const QJsonObject book = readBook(file);
        QCOMPARE(value(book, "F2").toString(), QStringLiteral("TALVORIN长度"));
        QCOMPARE(value(book, "G2").toString(), QStringLiteral("\t120.5"));
        QCOMPARE(type(book, "G2"), QStringLiteral("str"));
        QCOMPARE(value(book, "F3").toString(), QStringLiteral("宽度"));
        QCOMPARE(value(book, "G3").toString(), QStringLiteral("a"));
        QCOMPARE(value(book, "F4").toString(), QStringLiteral("bare"));
        QVERIFY(value(book, "G4").isUndefined());
        QVERIFY(value(book, "F5").isUndefined());
        QCOMPARE(value(book, "G5").toString(), QStringLiteral("\t7"));
        QCOMPARE(book.value("max_row").toInt(), 5);
        QVERIFY(cell(book, "F2").value("h").isNull());
    }

    void currentNaNAndControlCharacters()
    {
        const QString file = path(QStringLiteral("nan.xlsx"));
        const double nan = std::numeric_limits<double>::quiet_NaN();
        expectCritical("nan.xlsx: 1 hole diameter\\(s\\) are NaN");
        expectCritical("nan.xlsx: 1 number\\(s\\) were NaN or infinite and were written as text, the first at row 3, "
                       "column 2$");
        expectCritical("nan.xlsx: 1 text\\(s\\) held control characters");
        QVERIFY(CurrentProductWorkbookWriter::write(file, {{0, true, 2.0, 1.0f}, {1, false, nan, 1.0f},
                                                           {2, true, 2.5, 1.0f}},
                                                    {QStringLiteral("TAL\x1fVORIN:\t1")}));
        const QJsonObject book = readBook(file);
        QVERIFY(!book.isEmpty());
        QCOMPARE(value(book, "B3").toString(), QStringLiteral("nan"));
        // Ranked without the NaN: two holes, the smaller dark yellow, the larger blue.
        QCOMPARE(colour(book, "B2"), darkYellow);
        QCOMPARE(colour(book, "B4"), blue);
        QCOMPARE(colour(book, "B3"), QString());
        QCOMPARE(value(book, "F2").toString(), QStringLiteral("TAL_x001F_VORIN"));
    }

    void unwritableFile()
    {
        expectCritical("Cannot save the workbook");
        QVERIFY(!ReportWorkbookWriter::write(path(QStringLiteral("no/such/dir/r.xlsx")), {product("M,O", 3)}));
        expectCritical("Cannot save the workbook");
        QVERIFY(!CurrentProductWorkbookWriter::write(path(QStringLiteral("no/such/dir/c.xlsx")), {}, {}));
    }

    void explorerCommandLine_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("commandLine");
        QTest::newRow("forward slashes") << "C:/dir/sub dir/f.xlsx" << R"(explorer.exe /select,"C:\dir\sub dir\f.xlsx")";
        QTest::newRow("native") << R"(D:\报表\r.xlsx)" << R"(explorer.exe /select,"D:\报表\r.xlsx")";
    }
    void explorerCommandLine()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, commandLine);
        QCOMPARE(FileReveal::explorerCommandLine(fileName), commandLine);
    }

    void revealUsesLauncher()
    {
        QStringList started;
        FileReveal::setLauncher([&started](const QString &program, const QStringList &arguments,
                                           const QString &nativeArguments) {
            started << program << arguments << nativeArguments;
        });
        FileReveal::reveal(QStringLiteral("/data/reports/r.xlsx"));
#ifdef Q_OS_WIN
        QCOMPARE(started, (QStringList{"explorer.exe", R"(/select,"\data\reports\r.xlsx")"}));
#else
        QCOMPARE(started, (QStringList{"xdg-open", "/data/reports", QString()}));
#endif
    }

    // The panel's export button, from the host's results to the saved workbook.
    void panelExport_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("saved") << false;
        QTest::newRow("cancelled") << true;
    }
    void panelExport()
    {
        QFETCH(bool, cancel);
        // The panel keeps one named database connection for the process; one folder for all.
        TestHost host;
        host.data = m_dir.path();
        Custom_TALVORIN prototype;
        std::unique_ptr<PluginWidget> panel(prototype.create(&host));
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
        emit host.cameraDetectionCompleted(TestHost::hole(2.5, 1.9, 2.1));
        emit host.cameraDetectionCompleted(TestHost::hole(2.0, 1.9, 2.1));
        emit host.cameraDetectionCompleted(TestHost::sizeGroup({{QStringLiteral("TALVORIN长度"), 120.5}}, 0, 200));

        const QString file = path(QStringLiteral("sub/../current.xlsx"));
        QStringList asked;
        SaveFilePrompt::setOverride([&](QWidget *parent, const QString &caption, const QString &filter) {
            asked << QString::number(parent == panel.get()) << caption << filter;
            return cancel ? QString() : file;
        });
        QStringList started;
        FileReveal::setLauncher([&started](const QString &program, const QStringList &arguments, const QString &) {
            started << program << arguments;
        });
        QPushButton *button = nullptr;
        const auto buttons = panel->findChildren<QPushButton *>();
        for (QPushButton *b : buttons)
            if (b->text() == QStringLiteral("导出当前产品尺寸数据"))
                button = b;
        QVERIFY(button);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("sub")));
        QFile::remove(file);
        QTest::mouseClick(button, Qt::LeftButton);

        QCOMPARE(asked, (QStringList{"1", "Save File", "xlsx (*.xlsx)"}));
        if (cancel) {
            QVERIFY(!QFile::exists(file));
            QCOMPARE(started, QStringList());
            return;
        }
        QCOMPARE(started, (QStringList{"xdg-open", QFileInfo(file).absolutePath()}));
        const QJsonObject book = readBook(file);
        QCOMPARE(value(book, "A1").toString(), QStringLiteral("order"));
        QCOMPARE(value(book, "A2").toInt(), 1);
        QCOMPARE(value(book, "B2").toDouble(), 2.5);
        QCOMPARE(colour(book, "B2"), blue);
        QCOMPARE(value(book, "C2").toString(), QStringLiteral("NG"));
        QCOMPARE(colour(book, "C2"), red);
        QCOMPARE(value(book, "D2").toInt(), -1);
        QCOMPARE(value(book, "B3").toDouble(), 2.0);
        QCOMPARE(colour(book, "B3"), darkYellow);
        QCOMPARE(value(book, "C3").toString(), QStringLiteral("OK"));
        QCOMPARE(value(book, "F2").toString(), QStringLiteral("TALVORIN长度"));
        QCOMPARE(value(book, "G2").toString(), QStringLiteral("\t120.5"));
    }

    // The report dialog's export button over products it was handed by its worker.
    void dialogExport_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("saved") << false;
        QTest::newRow("cancelled") << true;
    }
    void dialogExport()
    {
        QFETCH(bool, cancel);
        // The panel keeps one named database connection for the process; one folder for all.
        TestHost host;
        host.data = m_dir.path();
        Custom_TALVORIN prototype;
        std::unique_ptr<PluginWidget> panel(prototype.create(&host)); // creates the product table
        ReportTable dialog(path(QStringLiteral("DectDB/TLV.db")));
        const QList<ProductPtr> products{product("M1,O1", 3, {{0, true, "4.01"}, {1, true, "3.99"}}, 11),
                                         product("M2", 0, {{0, false, "4.2"}}, 12)};
        QVERIFY(QMetaObject::invokeMethod(&dialog, "Slot_FindResult", Qt::DirectConnection, Q_ARG(bool, true),
                                          Q_ARG(QList<std::shared_ptr<tlv::ProductInfo>>, products)));

        const QString file = path(QStringLiteral("report.xlsx"));
        SaveFilePrompt::setOverride([&](QWidget *, const QString &, const QString &) {
            return cancel ? QString() : file;
        });
        int reveals = 0;
        FileReveal::setLauncher([&reveals](const QString &, const QStringList &, const QString &) { ++reveals; });
        auto *button = dialog.findChild<QPushButton *>(QStringLiteral("btnExport"));
        QVERIFY(button);
        QFile::remove(file);
        QTest::mouseClick(button, Qt::LeftButton);

        QCOMPARE(reveals, cancel ? 0 : 1);
        QCOMPARE(QFile::exists(file), !cancel);
        if (cancel)
            return;
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("merged").toArray(), QJsonArray{"G1:H1"});
        QCOMPARE(value(book, "B2").toInt(), 11);
        QCOMPARE(value(book, "E2").toString(), QStringLiteral("OK"));
        QCOMPARE(value(book, "H2").toString(), QStringLiteral("3.99"));
        QCOMPARE(value(book, "B3").toInt(), 12);
        QCOMPARE(value(book, "C3").toString(), QStringLiteral("M2"));
        QVERIFY(value(book, "D3").isUndefined());
        QCOMPARE(value(book, "E3").toString(), QStringLiteral("尺寸NG、外观NG"));
        QCOMPARE(value(book, "G3").toString(), QStringLiteral("4.2"));
        QCOMPARE(colour(book, "G3"), red);
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
