// The capability of a range, end to end: products measured by a panel whose history is on (so it
// keeps their limits), the report opened over its file, btnCapability, then btnExportCapability,
// the workbook read back with openpyxl.

#include "CapabilityTableModel.h"
#include "CapabilityView.h"
#include "FileReveal_p.h"
#include "MessageGuard.h"
#include "PanelFixture.h"
#include "ReadXlsx.h"
#include "ReportTable.h"
#include "SaveFilePrompt_p.h"
#include "TestHost.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>

#include <cmath>

namespace {

struct Product
{
    double hole0, low0, up0, width;
};

// Hole 0 judged against 0..10 and then 1..9 (the limits change within the range), its values
// with more digits than the records' texts keep; hole 1 always 5 within 4..6, the width within
// 34.95..35.35.
const QVector<Product> kLine { { 2.123456789, 0, 10, 35.1 }, { 4.0000012345, 0, 10, 35.3 },
    { 3.9876543219, 1, 9, 34.9 }, { 5.9999876543, 1, 9, 35.05 } };

bool hasTable(const QString &path, const QString &table)
{
    bool present = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        present = db.open() && db.tables().contains(table);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return present;
}

} // namespace

class TestCapabilityView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }
    void cleanup()
    {
        SaveFilePrompt::setOverride({});
        FileReveal::setLauncher({});
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
    }

    void exportFromReport_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("history on") << true << false;
        QTest::newRow("history on, a row gone, save cancelled: the older file kept") << true << true;
        QTest::newRow("history off: no limits, no button") << false << false;
    }
    void exportFromReport()
    {
        QFETCH(bool, history);
        QFETCH(bool, cancel);
        PanelFixture f;
        f.open();
        QJsonObject settings { { QStringLiteral("Custom_TALVORIN"),
            QJsonObject { { QStringLiteral("History"), history ? "1" : "0" } } } };
        f.panel()->deserialize(settings);
        for (int i = 0; i < kLine.size(); ++i) {
            f.start();
            f.hole(kLine[i].hole0, kLine[i].low0, kLine[i].up0);
            f.hole(5, 4, 6);
            f.send(TestHost::sizeGroup({ { QStringLiteral("宽度"), kLine[i].width } }, 34.95, 35.35));
            f.send(TestHost::appearance(i + 1, true));
            f.end();
        }
        QCOMPARE(hasTable(f.dbPath(), QStringLiteral("tlv_limits")), history);

        ReportTable report(f.dbPath());
        auto *button = report.findChild<QPushButton *>(QStringLiteral("btnCapability"));
        QCOMPARE(button != nullptr, history);
        if (!history)
            return;
        QTRY_COMPARE(report.findChild<QTableView *>(QStringLiteral("tblWidProduct"))->model()->rowCount(),
            kLine.size());
        if (cancel) {
            // A loaded product whose row is gone is studied from its record.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("gone"));
            db.setDatabaseName(f.dbPath());
            QVERIFY(db.open()
                && db.exec(QStringLiteral("delete from product_data_new where id = 2")).numRowsAffected()
                    == 1);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("gone"));
        button->click();
        auto *view = report.findChild<CapabilityView *>();
        QVERIFY(view);
        QAbstractItemModelTester tester(
            view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_VERIFY(view->isReady());
        QCOMPARE(view->findChild<QLabel *>()->text().contains(
                     QStringLiteral("1件产品的孔值按记录中的6位文本计算")),
            cancel);

        // The width's Cpk 0.21 is red, hole 0's 0.88 too; hole 1 has no σ, so no indices.
        QStringList shown;
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            const QModelIndex cpk = view->model()->index(row, CapabilityTableModel::Cpk);
            shown << QStringLiteral("%1 %2 %3 %4")
                         .arg(view->model()->index(row, 0).data().toString(), cpk.data().toString(),
                             cpk.data(Qt::BackgroundRole).value<QBrush>().color().name(),
                             view->model()->index(row, CapabilityTableModel::Note).data().toString());
        }
        QCOMPARE(shown,
            QStringList({ "宽度 0.21 #f56c6c ", "孔0 0.88 #f56c6c 范围内限值有变更", "孔1  #000000 " }));

        const QString fileName = QDir(QFileInfo(f.dbPath()).path()).filePath(QStringLiteral("cap.xlsx"));
        SaveFilePrompt::setOverride(
            [&](QWidget *, const QString &, const QString &) { return cancel ? QString() : fileName; });
        FileReveal::setLauncher([](const QString &, const QStringList &, const QString &) {});
        if (cancel) {
            QFile older(fileName);
            QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older") == 5);
            older.close();
            view->findChild<QPushButton *>(QStringLiteral("btnExportCapability"))->click();
            QVERIFY(older.open(QIODevice::ReadOnly));
            QCOMPARE(older.readAll(), QByteArray("older"));
            return;
        }
        view->findChild<QPushButton *>(QStringLiteral("btnExportCapability"))->click();
        const QJsonObject book = readBook(fileName);
        QCOMPARE(book.value("names").toArray(), QJsonArray({ "过程能力" }));
        const QJsonObject cells = book.value("cells").toObject();
        const QString columns = QStringLiteral("ABCDEFGHIJKL");
        QStringList header;
        for (const QChar c : columns)
            header << cells.value(QString(c) + QLatin1Char('1'))["v"].toString();
        QCOMPARE(header.join(','), QStringLiteral("特性,n,均值,σ组内,σ整体,下限,上限,Cp,Cpk,Pp,Ppk,NG数"));
        // Worked out by hand from the values as measured; an empty cell is written as NaN here.
        const double NaN = std::numeric_limits<double>::quiet_NaN();
        const QVector<QVector<double>> expected {
            { 4, 35.0875, 0.22163120567375886, 0.1652018966799913, 34.95, 35.35, 0.3008, 0.2068,
                0.4035466178442557, 0.27743829976793155, 1 },
            { 4, 4.02777499992499970, 1.1528441756796690, 1.5830805047321024, 1, 9, 1.1565598902794088,
                0.87545078042599866, 0.84223975303073251, 0.63752811704236456, 0 },
            { 4, 5, 0, 0, 4, 6, NaN, NaN, NaN, NaN, 0 },
        };
        QCOMPARE(book.value("max_row").toInt(), 1 + expected.size());
        QCOMPARE(cells.value("A2")["v"].toString() + cells.value("A3")["v"].toString()
                + cells.value("A4")["v"].toString(),
            QStringLiteral("宽度孔0孔1"));
        for (int r = 0; r < expected.size(); ++r) {
            for (int c = 0; c < expected[r].size(); ++c) {
                const QJsonValue cell = cells.value(QStringLiteral("%1%2").arg(columns[c + 1]).arg(r + 2));
                const double want = expected[r][c];
                if (std::isnan(want)) {
                    QVERIFY2(
                        cell.isUndefined(), qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
                    continue;
                }
                QVERIFY2(cell["t"].toString() != "str",
                    qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
                const double got = cell["v"].toDouble();
                QVERIFY2(std::abs(got - want) <= 1e-12 * std::abs(want),
                    qPrintable(QStringLiteral("row %1 column %2: %3, expected %4")
                                   .arg(r)
                                   .arg(c)
                                   .arg(got)
                                   .arg(want)));
            }
        }
    }
};

QTEST_MAIN(TestCapabilityView)
#include "tst_capability_view.moc"
