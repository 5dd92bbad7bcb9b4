// Both workbooks read back with openpyxl (read_xlsx.py): texts, number cells, formats, merges.

#include "CurrentProductWorkbookWriter.h"
#include "Custom_TALVORIN.h"
#include "FileReveal_p.h"
#include "HoleEntry.h"
#include "MessageGuard.h"
#include "ProductInfo.h"
#include "ReadXlsx.h"
#include "ReportExport.h"
#include "ReportWorkbookWriter.h"
#include "ReportWorkbookWriter_p.h"
#include "SaveFilePrompt_p.h"
#include "TestHost.h"
#include "Widgets.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using ProductPtr = std::shared_ptr<tlv::ProductInfo>;

namespace {

// Cell styles as read_xlsx.py prints them: font, size, alignment, colour.
const QString kDefault = QStringLiteral("Calibri 11.0 None/None None");
const QString kCentred = QStringLiteral("Calibri 12.0 center/center None");
const QString kRed = QStringLiteral("Calibri 12.0 center/center FFFF0000");
const QString kBlue = QStringLiteral("Calibri 12.0 center/center FF0000FF");
const QString kDarkYellow = QStringLiteral("Calibri 12.0 center/center FF808000");

// Holes as "idx:value" (OK) or "idx:value!" (NG).
ProductPtr product(int pid, const QString &barcode, int status, const QStringList &holes = {})
{
    auto p = std::make_shared<tlv::ProductInfo>();
    p->uptime = QStringLiteral("2024-03-01 08:15:30");
    p->pid = pid;
    p->barcode = barcode;
    p->psize = QStringLiteral("TALVORIN长度:120.5;宽度:30.2");
    p->status = status;
    for (QString text : holes) {
        auto hole = std::make_shared<tlv::HoleInfo>();
        hole->status = !text.endsWith(QLatin1Char('!'));
        text.remove(QLatin1Char('!'));
        hole->idx = text.section(QLatin1Char(':'), 0, 0).toInt();
        hole->value = text.section(QLatin1Char(':'), 1);
        p->vtHoles.append(hole);
    }
    return p;
}

// A cell as "value|type|style"; "-" when the sheet has no such cell.
QString cell(const QJsonObject &book, const QString &ref)
{
    const QJsonObject c = book.value(QStringLiteral("cells")).toObject().value(ref).toObject();
    if (c.isEmpty())
        return QStringLiteral("-");
    return QStringLiteral("%1|%2|%3")
        .arg(c.value("v").toVariant().toString(), c.value("t").toString(), c.value("style").toString());
}

QString text(const QString &value, const QString &style = kDefault)
{
    return value + QStringLiteral("|str|") + style;
}

QString number(const QString &value, const QString &type, const QString &style = kDefault)
{
    return value + QLatin1Char('|') + type + QLatin1Char('|') + style;
}

QByteArray contents(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

// The files of a folder with their contents.
QMap<QString, QByteArray> folder(const QString &path)
{
    QMap<QString, QByteArray> files;
    for (const QFileInfo &info : QDir(path).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot))
        files.insert(info.fileName(), info.isDir() ? QByteArray("(folder)") : contents(info.filePath()));
    return files;
}

// A file size limit that a finished large workbook stays below while its temporary sheet file
// outgrows it.
constexpr qint64 kFileLimit = 1 << 20;

// A workbook of either export whose sheet XML runs to megabytes and compresses well.
bool writeLarge(const QString &kind, const QString &file)
{
    if (kind == QLatin1String("report"))
        return ReportWorkbookWriter::write(file,
            QVector<ProductPtr>(
                5000, product(1, "M,O", 3, { "0:1.25", "1:2.5!", "2:3.75", "3:5", "4:6.25" })));
    const QVector<HoleEntry> holes(20000, { 0, true, 2.5, 1.0f });
    return CurrentProductWorkbookWriter::write(file, holes.toList(), { QStringLiteral("len:\t1") });
}

#ifdef Q_OS_UNIX
// Run as a child process: writes writeLarge() with files limited to kFileLimit bytes, as on a
// temp disk that fills up. Exits 0 when the export reports the file saved.
int limitedExport(const QString &kind, const QString &file)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit { rlim_t(kFileLimit), rlim_t(kFileLimit) };
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 2;
    return writeLarge(kind, file) ? 0 : 1;
}
#endif

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
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("DectDB")));
    }
    void cleanup()
    {
        SaveFilePrompt::setOverride({});
        FileReveal::setLauncher({});
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
    }

    void reportRow_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("cells"); // C2, D2, E2
        QTest::newRow("both parts, OK") << "M,O" << 3 << QStringList { text("M"), text("O"), text("OK") };
        QTest::newRow("no comma") << "M" << 2 << QStringList { text("M"), "-", text("尺寸NG") };
        QTest::newRow("leading comma") << ",O" << 1 << QStringList { "-", text("O"), text("外观NG") };
        QTest::newRow("three parts") << "a,b,c" << 0
                                     << QStringList { text("a"), text("b"), text("尺寸NG、外观NG") };
        QTest::newRow("empty, unknown status") << "" << 7 << QStringList { "-", "-", number("7", "int") };
        // GS1 barcodes separate fields with GS, which XML cannot carry: escaped as Excel does.
        QTest::newRow("control character") << QStringLiteral("01\x1d"
                                                             "10,O")
                                           << 3 << QStringList { text("01_x001D_10"), text("O"), text("OK") };
    }
    void reportRow()
    {
        QFETCH(QString, barcode);
        QFETCH(int, status);
        QFETCH(QStringList, cells);
        if (barcode.contains(QChar(0x1d)))
            MessageGuard::expect(QRegularExpression(QStringLiteral("held control characters")));
        const QString file = path(QStringLiteral("row.xlsx"));
        // Holes 0 to 2; a later hole with the same number overwrites the earlier one.
        QVERIFY(ReportWorkbookWriter::write(
            file, { nullptr, product(17, barcode, status, { "0:12.5", "1:3!", "2:1.2e-05", "2:4" }) }));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("sheets").toInt(), 1);
        QCOMPARE(book.value("max_row").toInt(), 2);
        QStringList header;
        for (const QString ref : { "A1", "B1", "C1", "D1", "E1", "F1", "G1" })
            header << cell(book, ref);
        QCOMPARE(header,
            (QStringList { text("Time"), text("ProductID"), text("Material number"), text("Order number"),
                text("Result"), text("Length"), text("Diameter") }));
        QCOMPARE(cell(book, "A2"), text("2024-03-01 08:15:30"));
        QCOMPARE(cell(book, "B2"), number("17", "int"));
        QCOMPARE((QStringList { cell(book, "C2"), cell(book, "D2"), cell(book, "E2") }), cells);
        QCOMPARE(cell(book, "F2"), text("TALVORIN长度:120.5;宽度:30.2"));
        QCOMPARE(cell(book, "G2"), text("12.5", kCentred));
        QCOMPARE(cell(book, "H2"), text("3", kRed));
        QCOMPARE(cell(book, "I2"), text("4", kCentred));
        QCOMPARE(
            book.value("merged").toArray(), QJsonArray { "G1:J1" }); // four holes, though two share a column
    }

    void reportMerge_data()
    {
        QTest::addColumn<QList<int>>("holeCounts");
        QTest::addColumn<QJsonArray>("merged");
        QTest::newRow("widest 3") << QList<int> { 1, 3, 2 } << QJsonArray { "G1:I1" };
        QTest::newRow("widest 2") << QList<int> { 2 } << QJsonArray { "G1:H1" };
        QTest::newRow("widest 1") << QList<int> { 1, 0 } << QJsonArray {};
    }
    void reportMerge()
    {
        QFETCH(QList<int>, holeCounts);
        QFETCH(QJsonArray, merged);
        QVector<ProductPtr> products;
        for (int count : qAsConst(holeCounts)) {
            QStringList holes;
            for (int i = 0; i < count; ++i)
                holes << QStringLiteral("%1:1").arg(10 + i); // the merge follows the count, not the numbers
            products << product(1, "M,O", 3, holes);
        }
        const QString file = path(QStringLiteral("merge.xlsx"));
        QVERIFY(ReportWorkbookWriter::write(file, products));
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("merged").toArray(), merged);
        QCOMPARE(book.value("max_row").toInt(), holeCounts.size() + 1);
    }

    // A cancelled or failed export leaves the older file as it was, and no part of a new one. A
    // failed one still opens the file manager; a cancelled one does not.
    void reportAborted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stopAt"); // the progress call that cancels: 256, 300, 300 again
        QTest::addColumn<QString>("log");
        QTest::newRow("cancelled") << "r.xlsx" << 1 << "r.xlsx cancelled after 256 of 300 products";
        QTest::newRow("cancelled while saving")
            << "r.xlsx" << 3 << "r.xlsx cancelled after 300 of 300 products";
        QTest::newRow("no such folder") << "no/r.xlsx" << 0 << "Cannot save the workbook .*no/r.xlsx: \\w";
        QTest::newRow("name taken by a folder") << "DectDB" << 0 << "Cannot save the workbook .*DectDB: \\w";
    }
    void reportAborted()
    {
        QFETCH(QString, name);
        QFETCH(int, stopAt);
        QFETCH(QString, log);
        QFile older(path(QStringLiteral("r.xlsx")));
        QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older") == 5);
        older.close();
        const auto before = folder(m_dir.path());
        MessageGuard::ignore(stopAt ? QtInfoMsg : QtCriticalMsg, QRegularExpression(log));
        int reveals = 0;
        FileReveal::setLauncher([&](const QString &, const QStringList &, const QString &) { ++reveals; });
        int calls = 0;
        ReportExport::run(path(name), QVector<ProductPtr>(300, product(1, "M", 3, { "0:1" })),
            [&](int) { return ++calls != stopAt; });
        QCOMPARE(folder(m_dir.path()), before);
        QCOMPARE(reveals, stopAt ? 0 : 1);
    }

    // The temporary files fail to grow (a full temp disk) while the finished file would fit: the
    // export reports the failure and the older file stays byte for byte.
    void tempFilesFull_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("report") << "report";
        QTest::newRow("current product") << "current";
    }
    void tempFilesFull()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a file size limit (setrlimit)");
#endif
        QFETCH(QString, kind);
        const QString file = path(QStringLiteral("older.xlsx"));
        QVERIFY(writeLarge(kind, file));
        const QByteArray older = contents(file);
        QVERIFY(older.size() < kFileLimit / 2);
        const auto before = folder(m_dir.path());

        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--limited-export"), kind, file });
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(folder(m_dir.path()), before);
        QCOMPARE(child.exitCode(), 1);
        const QString log = QString::fromUtf8(child.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("Cannot save the workbook ") + file), qPrintable(log));
    }

    // Products beyond a sheet's last row go on over further sheets under the same header.
    void reportSheets_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one sheet full") << 3 << QStringList { "Sheet1" };
        QTest::newRow("one more") << 4 << QStringList { "Sheet1", "Sheet2" };
        QTest::newRow("three sheets") << 7 << QStringList { "Sheet1", "Sheet2", "Sheet3" };
    }
    void reportSheets()
    {
        QFETCH(int, count);
        QFETCH(QStringList, names);
        QVector<ProductPtr> products { nullptr };
        QStringList expected;
        for (int pid = 1; pid <= count; ++pid) {
            products << product(pid, "M,O", 3, { "0:1", "1:2" }) << nullptr;
            expected << number(QString::number(pid), "int");
        }
        const QString file = path(QStringLiteral("sheets.xlsx"));
        QVERIFY(writeReportWorkbook(file, products, {}, 4)); // a header and three products
        const QJsonObject book = readBook(file);
        QCOMPARE(book.value("names").toVariant().toStringList(), names);
        QJsonArray sheets { book };
        for (const auto other : book.value("others").toArray())
            sheets << other;
        QStringList pids;
        for (const auto value : qAsConst(sheets)) {
            const QJsonObject sheet = value.toObject();
            QStringList header;
            for (const QString ref : { "A1", "B1", "C1", "D1", "E1", "F1", "G1" })
                header << cell(sheet, ref);
            QCOMPARE(header,
                (QStringList { text("Time"), text("ProductID"), text("Material number"), text("Order number"),
                    text("Result"), text("Length"), text("Diameter") }));
            QCOMPARE(sheet.value("merged").toArray(), QJsonArray { "G1:H1" });
            for (int row = 2; row <= sheet.value("max_row").toInt(); ++row)
                pids << cell(sheet, QStringLiteral("B%1").arg(row));
        }
        QCOMPARE(pids, expected);
    }

    // Saving onto a symbolic link writes the file it names and keeps the link.
    void symbolicLink_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("to a file") << true;
        QTest::newRow("to no file yet") << false;
    }
    void symbolicLink()
    {
#ifndef Q_OS_UNIX
        QSKIP("symbolic links need privileges on Windows");
#endif
        QFETCH(bool, targetExists);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("linked")));
        const QString target = path(QStringLiteral("linked/target.xlsx"));
        const QString link = path(QStringLiteral("link.xlsx"));
        QFile::remove(target);
        QFile::remove(link);
        QFile older(target);
        if (targetExists)
            QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older") == 5);
        older.close();
        QVERIFY(QFile::link(QStringLiteral("linked/target.xlsx"), link));
        QVERIFY(CurrentProductWorkbookWriter::write(link, { { 6, true, 2.0, 1.0f } }, {}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
        QCOMPARE(cell(readBook(target), "A2"), number("7", "int"));
        QCOMPARE(QDir(path(QStringLiteral("linked"))).entryList(QDir::Files), QStringList { "target.xlsx" });
    }

    // The k smallest diameters dark yellow, the k largest blue; k by the number of holes.
    void currentColours_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QStringList>("styles");
        QTest::newRow("one") << QList<double> { 2.0 } << QStringList { kCentred };
        QTest::newRow("two equal") << QList<double> { 2.0, 2.0 } << QStringList { kBlue, kBlue };
        QTest::newRow("five") << QList<double> { 1, 2, 3, 4, 5 }
                              << QStringList { kDarkYellow, kDarkYellow, kCentred, kBlue, kBlue };
        QTest::newRow("nine") << QList<double> { 5, 1, 9, 3, 7, 2, 8, 4, 6 }
                              << QStringList { kCentred, kDarkYellow, kBlue, kDarkYellow, kBlue, kDarkYellow,
                                     kBlue, kDarkYellow, kBlue };
    }
    void currentColours()
    {
        QFETCH(QList<double>, values);
        QFETCH(QStringList, styles);
        QList<HoleEntry> holes;
        for (int i = 0; i < values.size(); ++i)
            holes.append({ i, true, values.at(i), 1.0f });
        const QString file = path(QStringLiteral("colours.xlsx"));
        QVERIFY(CurrentProductWorkbookWriter::write(file, holes, {}));
        const QJsonObject book = readBook(file);
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(cell(book, QStringLiteral("B%1").arg(i + 2)).section('|', 2), styles.at(i));
    }

    void currentSheet()
    {
        const QString file = path(QStringLiteral("current.xlsx"));
        const QStringList lines { QStringLiteral("TALVORIN长度:\t120.5"), QStringLiteral("宽度:a:\t30"),
            QStringLiteral("bare"), QStringLiteral(":\t7") };
        QVERIFY(CurrentProductWorkbookWriter::write(
            file, { { 4, false, 3.25, 5.3f }, { 5, true, 2.0, -1.0f } }, lines));
        const QJsonObject book = readBook(file);
        QStringList header;
        for (const QString ref : { "A1", "B1", "C1", "D1", "E1", "F1", "G1" })
            header << cell(book, ref);
        QCOMPARE(header,
            (QStringList { text("order"), text("value"), text("result"), text("postion"), text(""),
                text("length"), text("value") }));
        QCOMPARE(cell(book, "A2"), number("5", "int"));
        QCOMPARE(cell(book, "B2"), number("3.25", "float", kBlue));
        QCOMPARE(cell(book, "C2"), text("NG", kRed));
        QCOMPARE(cell(book, "D2"), number("5.300000190734863", "float"));
        QCOMPARE(cell(book, "C3"), text("OK", kCentred));
        QCOMPARE(cell(book, "D3"), number("-1", "int"));
        QCOMPARE((QStringList { cell(book, "F2"), cell(book, "G2"), cell(book, "F3"), cell(book, "G3") }),
            (QStringList { text("TALVORIN长度"), text("\t120.5"), text("宽度"), text("a") }));
        QCOMPARE((QStringList { cell(book, "F4"), cell(book, "G4"), cell(book, "F5"), cell(book, "G5") }),
            (QStringList { text("bare"), "-", "-", text("\t7") }));
        QCOMPARE(book.value("max_row").toInt(), 5);
    }

    void explorerCommandLine()
    {
        QCOMPARE(FileReveal::explorerCommandLine(QStringLiteral("C:/dir/sub dir/报表.xlsx")),
            QStringLiteral(R"(explorer.exe /select,"C:\dir\sub dir\报表.xlsx")"));
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
        TestHost host;
        host.data = m_dir.path();
        Custom_TALVORIN prototype;
        std::unique_ptr<PluginWidget> panel(prototype.create(&host));
        emit host.Signal_McEvent(TestHost::mcu(QStringLiteral("CamLenStart")));
        emit host.cameraDetectionCompleted(TestHost::hole(2.5, 1.9, 2.1));
        emit host.cameraDetectionCompleted(TestHost::hole(2.0, 1.9, 2.1));
        emit host.cameraDetectionCompleted(
            TestHost::sizeGroup({ { QStringLiteral("TALVORIN长度"), 120.5 } }, 0, 200));

        const QString file = path(QStringLiteral("panel.xlsx"));
        QFile::remove(file);
        QStringList asked;
        SaveFilePrompt::setOverride([&](QWidget *parent, const QString &caption, const QString &filter) {
            asked << QString::number(parent == panel.get()) << caption << filter;
            return cancel ? QString() : file;
        });
        int reveals = 0;
        FileReveal::setLauncher([&](const QString &, const QStringList &, const QString &) { ++reveals; });
        QPushButton *button = buttonWithText(panel.get(), QStringLiteral("导出当前产品尺寸数据"));
        QVERIFY(button);
        button->click();

        QCOMPARE(asked, (QStringList { "1", "Save File", "xlsx (*.xlsx)" }));
        QCOMPARE(reveals, cancel ? 0 : 1);
        QCOMPARE(QFile::exists(file), !cancel);
        if (cancel)
            return;
        const QJsonObject book = readBook(file);
        QCOMPARE((QStringList { cell(book, "A2"), cell(book, "B2"), cell(book, "C2"), cell(book, "B3") }),
            (QStringList { number("1", "int"), number("2.5", "float", kBlue), text("NG", kRed),
                number("2", "int", kDarkYellow) }));
        QCOMPARE(cell(book, "F2"), text("TALVORIN长度"));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef Q_OS_UNIX
    if (argc == 4 && qstrcmp(argv[1], "--limited-export") == 0)
        return limitedExport(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
#endif
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestExport test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_export.moc"
