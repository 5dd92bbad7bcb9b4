// The report dialog over real SQLite files: its query flow, detail view, charts, export list
// and what a closed or deleted report keeps.

#include "FileReveal_p.h"
#include "HistorySwitch.h"
#include "MessageGuard.h"
#include "ProductRows.h"
#include "ReadXlsx.h"
#include "ReportTable.h"
#include "ReportTableModel.h"
#include "SaveFilePrompt_p.h"

#include <QDateTimeEdit>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTableView>
#include <QTemporaryDir>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include <memory>

QT_CHARTS_USE_NAMESPACE

using ProductList = QList<std::shared_ptr<tlv::ProductInfo>>;

namespace {

const QString kToday = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));

// Stores `count` products stamped `uptime` (today when only a time is given), pid 1 to `count`,
// every `ngEvery`-th with status 0.
bool seed(const QString &path, int count, QString uptime, int ngEvery = 0,
    const QString &diameter = QStringLiteral("[]"), const QString &appearance = QStringLiteral("[]"))
{
    if (uptime.size() == 8)
        uptime = kToday + QLatin1Char(' ') + uptime;
    QList<StoredRow> rows;
    for (int i = 0; i < count; ++i)
        rows << StoredRow { uptime, i + 1, QStringLiteral("M1,W1"), QStringLiteral("L:12.5"), diameter,
            appearance, ngEvery && i % ngEvery == 0 ? 0 : 3 };
    return ProductRows::append(path, rows);
}

template <typename T> T *child(QObject *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

QChart *chartIn(QObject *dialog, const char *host)
{
    return child<QWidget>(dialog, host)->findChild<QChartView *>()->chart();
}

// The total label, once its number reads `rows` when given: a wrong text fails at once.
QString total(QObject *dialog, int rows = -1)
{
    auto *label = child<QLabel>(dialog, "lbTotal");
    (void)QTest::qWaitFor(
        [&] {
            return rows < 0
                || QString(label->text()).remove(QRegularExpression("\\D")) == QString::number(rows);
        },
        20000);
    return label->text();
}

QAbstractItemModel *products(QObject *dialog)
{
    return child<QTableView>(dialog, "tblWidProduct")->model();
}

void setRange(QObject *dialog, const QString &from, const QString &to)
{
    child<QDateTimeEdit>(dialog, "dateTimeStart")
        ->setDateTime(QDateTime(QDate::currentDate(), QTime::fromString(from)));
    child<QDateTimeEdit>(dialog, "dateTimeEnd")
        ->setDateTime(QDateTime(QDate::currentDate(), QTime::fromString(to)));
}

void clickFind(QObject *dialog)
{
    child<QPushButton>(dialog, "btnFind")->click();
}

// Each slice as the operator sees it: label, fill and label colour.
QStringList pieSlices(QObject *dialog)
{
    QStringList slices;
    const auto series = chartIn(dialog, "widChart")->series();
    if (auto *pie = qobject_cast<QPieSeries *>(series.value(0)))
        for (QPieSlice *slice : pie->slices())
            slices << QStringLiteral("%1 %2 %3")
                          .arg(slice->label(), slice->color().name(), slice->labelColor().name());
    return slices;
}

QStringList pieLabels(QObject *dialog)
{
    QStringList labels;
    const auto series = chartIn(dialog, "widChart")->series();
    if (auto *pie = qobject_cast<QPieSeries *>(series.value(0)))
        for (QPieSlice *slice : pie->slices())
            labels << slice->label();
    return labels;
}

} // namespace

class TestReportDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        MessageGuard::install();
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("TLV.db"));
    }
    void cleanup()
    {
        SaveFilePrompt::setOverride({});
        FileReveal::setLauncher({});
        QCOMPARE(MessageGuard::takeUnexpected(), QString());
    }

    void firstQueryFindsToday()
    {
        QVERIFY(seed(m_path, 249, QStringLiteral("08:00:00"), 4));
        QVERIFY(seed(m_path, 1, QStringLiteral("2001-01-01 08:00:00")));
        ReportTable dialog(m_path);
        QStringList totalsSeen;
        QList<int> batches;
        connect(products(&dialog), &QAbstractItemModel::rowsInserted, this,
            [&](const QModelIndex &, int first, int last) {
                batches << last - first + 1;
                totalsSeen << total(&dialog) << QString::number(pieLabels(&dialog).size());
            });
        QCOMPARE(total(&dialog, 249), QStringLiteral("共249条"));
        // Rows arrive in batches; the total and the pie change once, at the end.
        QCOMPARE(batches, (QList<int> { 101, 101, 47 }));
        QCOMPARE(totalsSeen, (QStringList { "共0条", "0", "共0条", "0", "共0条", "0" }));
        QCOMPARE(pieSlices(&dialog),
            (QStringList { "OK (74.70%) #32cd32 #008000", "NG (25.30%) #dc143c #800000" }));
        // Painting paced during the stream, free again once it ends; the row numbers fit as
        // Qt's own header would fit them.
        auto *view = child<QTableView>(&dialog, "tblWidProduct");
        QVERIFY(view->updatesEnabled());
        QHeaderView plain(Qt::Vertical);
        plain.setModel(view->model());
        QCOMPARE(view->verticalHeader()->sizeHint().width(), plain.sizeHint().width());
    }

    // Whatever the clicks' timing, only the latest find's rows, total and pie are shown.
    void latestFindOnly_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("afterRows"); // the clicks come once this many rows are shown
        QTest::newRow("right after opening") << 1 << 0;
        QTest::newRow("mid-stream") << 1 << 1;
        QTest::newRow("twice mid-stream") << 2 << 1;
    }
    void latestFindOnly()
    {
        QFETCH(int, clicks);
        QFETCH(int, afterRows);
        QVERIFY(seed(m_path, 3000, QStringLiteral("08:00:00"), 4));
        QVERIFY(seed(m_path, 3000, QStringLiteral("20:00:00")));
        ReportTable dialog(m_path);
        QTRY_VERIFY_WITH_TIMEOUT(products(&dialog)->rowCount() >= afterRows, 20000);
        auto *model = static_cast<ReportTableModel *>(products(&dialog));
        const std::weak_ptr<tlv::ProductInfo> shown = model->getProduct(model->index(0, 0));
        setRange(&dialog, QStringLiteral("00:00:00"), QStringLiteral("12:00:00"));
        for (int i = 0; i < clicks; ++i)
            clickFind(&dialog);
        // Emptied at once, and shown so; the records are let go of on a pool thread.
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(child<QTableView>(&dialog, "tblWidProduct")->updatesEnabled());
        QVERIFY(pieLabels(&dialog).isEmpty());
        QTRY_VERIFY(shown.expired());
        QCOMPARE(total(&dialog, 3000), QStringLiteral("共3000条"));
        QCOMPARE(products(&dialog)->index(2999, 0).data().toString(), kToday + QStringLiteral(" 08:00:00"));
        QCOMPARE(pieLabels(&dialog), (QStringList { "OK (75.00%)", "NG (25.00%)" }));
    }

    // Bars in map order with their counts; the value axis prints whole numbers at their place.
    void barChart_data()
    {
        QTest::addColumn<QString>("diameter");
        QTest::addColumn<QString>("appearance");
        QTest::addColumn<QStringList>("categories");
        QTest::addColumn<QList<double>>("counts");
        QTest::addColumn<double>("axisMax");
        QTest::addColumn<QStringList>("ticks");
        const QString ng = QStringLiteral(R"({"idx":%1,"position":1,"status":false,"value":5})");
        const QString ape = QStringLiteral(R"({"idx":0,"ngtypes":[%1],"position":0,"status":%2})");
        QTest::newRow("holes and findings")
            << QStringLiteral("[%1,%2,%3]").arg(ng.arg(0), ng.arg(1).replace("false", "true"), ng.arg(2))
            << QStringLiteral("[%1,%2,%3]")
                   .arg(ape.arg("\"A\",\"B\"", "false"), ape.arg("\"B\"", "false"), ape.arg("\"C\"", "true"))
            << QStringList { "A", "B", "尺寸NG" } << QList<double> { 1, 2, 2 } << 2.2
            << QStringList { "0", "1", "2" };
        QStringList five;
        for (int i = 0; i < 5; ++i)
            five << ng.arg(i);
        QTest::newRow("five") << QStringLiteral("[%1]").arg(five.join(',')) << QString()
                              << QStringList { "尺寸NG" } << QList<double> { 5 } << 5.5
                              << QStringList { "0", "1", "2", "3", "4", "5" };
        const QString hostile(50000, QChar(0x5212));
        QTest::newRow("hostile name")
            << QString()
            << QStringLiteral("[%1,%2]").arg(ape.arg('"' + hostile + "\",\"" + hostile + 'x' + '"', "false"),
                   ape.arg('"' + hostile + '"', "false"))
            << QStringList { QString(39, QChar(0x5212)) + QChar(0x2026),
                   QString(36, QChar(0x5212)) + QStringLiteral("…(2)") }
            << QList<double> { 2, 1 } << 2.2 << QStringList { "0", "1", "2" };
        QTest::newRow("no defects") << QString() << QStringLiteral("[%1]").arg(ape.arg("", "false"))
                                    << QStringList {} << QList<double> {} << 0.0 << QStringList {};
    }
    void barChart()
    {
        QFETCH(QString, diameter);
        QFETCH(QString, appearance);
        QFETCH(QStringList, categories);
        QFETCH(QList<double>, counts);
        QFETCH(double, axisMax);
        QFETCH(QStringList, ticks);
        QVERIFY(seed(m_path, 1, QStringLiteral("08:00:00"), 1, diameter, appearance));
        QVERIFY(seed(m_path, 1, QStringLiteral("08:00:00"), 1, QStringLiteral("[]"),
            QStringLiteral(R"([{"idx":0,"ngtypes":["Z","Y"],"position":0,"status":false}])")));
        ReportTable dialog(m_path);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(total(&dialog, 2), QStringLiteral("共2条"));
        auto *view = child<QTableView>(&dialog, "tblWidProduct");
        QChart *bars = chartIn(&dialog, "widBarChart");
        // Another product's bars first: nothing of them may stay.
        emit view->clicked(view->model()->index(1, 0));
        emit view->clicked(view->model()->index(0, 2));
        if (categories.isEmpty()) {
            QVERIFY(bars->series().isEmpty());
            QVERIFY(bars->axes().isEmpty());
            return;
        }
        QCOMPARE(bars->series().size(), 1);
        QBarSet *set = static_cast<QBarSeries *>(bars->series().constFirst())->barSets().value(0);
        QList<double> values;
        for (int i = 0; i < set->count(); ++i)
            values << set->at(i);
        QCOMPARE(values, counts);
        QCOMPARE(set->color().name(), QStringLiteral("#4682b4"));
        QCOMPARE(bars->axes().size(), 2);
        QCOMPARE(
            static_cast<QBarCategoryAxis *>(bars->axes(Qt::Horizontal).value(0))->categories(), categories);
        auto *axisY = static_cast<QValueAxis *>(bars->axes(Qt::Vertical).value(0));
        QVERIFY(qFuzzyCompare(axisY->max(), axisMax));
        // The labels as drawn: whole numbers, one per tick.
        const auto labels = [&] {
            QStringList out;
            const auto items = bars->scene()->items(Qt::AscendingOrder);
            for (QGraphicsItem *item : items) {
                auto *text = dynamic_cast<QGraphicsTextItem *>(item);
                if (text && text->isVisible() && text->parentItem() && bars->isAncestorOf(text)
                    && QRegularExpression(QStringLiteral("^-?\\d+$")).match(text->toPlainText()).hasMatch())
                    out << text->toPlainText();
            }
            std::sort(out.begin(), out.end(),
                [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
            return out;
        };
        QTRY_COMPARE(labels(), ticks);
    }

    // Row numbers select rows as a table view's own header does.
    void rowNumbersSelect()
    {
        QVERIFY(seed(m_path, 6, QStringLiteral("08:00:00")));
        ReportTable dialog(m_path);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(total(&dialog, 6), QStringLiteral("共6条"));
        auto *view = child<QTableView>(&dialog, "tblWidProduct");
        QHeaderView *header = view->verticalHeader();
        const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
            const int y = header->sectionViewportPosition(row) + header->sectionSize(row) / 2;
            QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers, QPoint(header->width() / 2, y));
        };
        const auto selected = [&] {
            QList<int> rows;
            const QModelIndexList indexes = view->selectionModel()->selectedRows(0);
            for (const QModelIndex &index : indexes)
                rows << index.row();
            std::sort(rows.begin(), rows.end());
            return rows;
        };
        click(1, Qt::NoModifier);
        QCOMPARE(selected(), (QList<int> { 1 }));
        click(3, Qt::ControlModifier);
        QCOMPARE(selected(), (QList<int> { 1, 3 }));
        click(5, Qt::ShiftModifier);
        QCOMPARE(selected(), (QList<int> { 1, 3, 4, 5 }));
        QVERIFY(header->highlightSections());
    }

    // Rows cut short by a damaged page are listed, but with no total or pie that would pass for
    // the whole range's.
    void damagedFileShowsIncomplete()
    {
        QVERIFY(seed(m_path, 3000, QStringLiteral("08:00:00"), 4));
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() / 4096 / 2 * 4096));
        QVERIFY(file.write(QByteArray(4096, '\xff')) == 4096);
        file.close();
        MessageGuard::ignore(QtCriticalMsg, QRegularExpression("^product_data_new 数据库语句执行失败!"));
        ReportTable dialog(m_path);
        auto *label = child<QLabel>(&dialog, "lbTotal");
        QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(QStringLiteral("不完整")), 20000);
        const int rows = products(&dialog)->rowCount();
        QVERIFY(rows > 0 && rows < 3000);
        QCOMPARE(label->text(), QStringLiteral("共%1条（读取出错，不完整）").arg(rows));
        QVERIFY(pieLabels(&dialog).isEmpty());
    }

    // With the history switched on for the file, the tool row gains the barcode search: bound
    // values, so a quote, a % or an _ finds what it says; empty finds the whole range. Without
    // the switch the dialog has no such field.
    void barcodeSearch_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("pids");
        QTest::newRow("off: no field") << false << QString() << QList<int> {};
        QTest::newRow("empty: the range") << true << "" << QList<int> { 1, 2, 3, 4, 5 };
        QTest::newRow("material") << true << "M7" << QList<int> { 2, 3 };
        QTest::newRow("order, any case") << true << "wo'1" << QList<int> { 2 };
        QTest::newRow("quote") << true << "'" << QList<int> { 2 };
        QTest::newRow("percent") << true << "%" << QList<int> { 3 };
        QTest::newRow("underscore") << true << "_" << QList<int> { 4 };
        QTest::newRow("nothing") << true << "ZZZ" << QList<int> {};
    }
    void barcodeSearch()
    {
        QFETCH(bool, history);
        QFETCH(QString, text);
        QFETCH(QList<int>, pids);
        const QString at = kToday + QStringLiteral(" 08:00:00");
        QList<StoredRow> rows;
        const QStringList barcodes { "M1,WO1", "M7,WO'1", "M7,W%2", "M1,W_3", "M1,WX4" };
        for (int i = 0; i < barcodes.size(); ++i)
            rows << StoredRow { at, i + 1, barcodes.at(i), QString(), QStringLiteral("[]"),
                QStringLiteral("[]"), 3 };
        rows << StoredRow { QStringLiteral("2001-01-01 08:00:00"), 9, QStringLiteral("M7,WO'1"), QString(),
            QStringLiteral("[]"), QStringLiteral("[]"), 3 };
        QVERIFY(ProductRows::append(m_path, rows));
        HistorySwitch::set(m_path, history);
        ReportTable dialog(m_path);
        HistorySwitch::set(m_path, false);
        auto *search = child<QLineEdit>(&dialog, "editBarcode");
        QCOMPARE(search != nullptr, history);
        QCOMPARE(total(&dialog, history ? 5 : 5), QStringLiteral("共5条"));
        if (!history)
            return;
        search->setText(text);
        child<QLabel>(&dialog, "lbTotal")->clear();
        clickFind(&dialog);
        QCOMPARE(total(&dialog, pids.size()), QStringLiteral("共%1条").arg(pids.size()));
        QList<int> found;
        auto *model = static_cast<ReportTableModel *>(products(&dialog));
        for (int row = 0; row < model->rowCount(); ++row)
            found << model->getProduct(model->index(row, 0)).lock()->pid;
        std::sort(found.begin(), found.end());
        QCOMPARE(found, pids);
    }

    void exportList_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("exported");
        QTest::newRow("nothing selected") << 4 << QList<int> {} << false << "1 2 3 4";
        QTest::newRow("selection order") << 4 << QList<int> { 3, 1 } << false << "4 2";
        QTest::newRow("cancelled") << 4 << QList<int> {} << true << "";
        QTest::newRow("empty table") << 0 << QList<int> {} << false << "";
    }
    void exportList()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, selected);
        QFETCH(bool, cancel);
        QFETCH(QString, exported);
        const QString fileName = m_dir->filePath(QStringLiteral("report.xlsx"));
        QStringList prompts;
        SaveFilePrompt::setOverride([&](QWidget *, const QString &caption, const QString &filter) {
            prompts << caption << filter;
            return cancel ? QString() : fileName;
        });
        int reveals = 0;
        FileReveal::setLauncher([&](const QString &, const QStringList &, const QString &) { ++reveals; });
        QVERIFY(seed(m_path, rows, QStringLiteral("08:00:00")));
        ReportTable dialog(m_path);
        QCOMPARE(total(&dialog, rows), QStringLiteral("共%1条").arg(rows));
        auto *view = child<QTableView>(&dialog, "tblWidProduct");
        for (int row : qAsConst(selected))
            view->selectionModel()->select(
                view->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        child<QPushButton>(&dialog, "btnExport")->click();

        QCOMPARE(prompts, rows ? QStringList({ "Save File", "xlsx (*.xlsx)" }) : QStringList());
        QCOMPARE(reveals, exported.isEmpty() ? 0 : 1);
        QCOMPARE(QFile::exists(fileName), !exported.isEmpty());
        if (exported.isEmpty())
            return;
        const QJsonObject book = readBook(fileName);
        QStringList pids;
        for (int row = 2; row <= book.value("max_row").toInt(); ++row)
            pids << book.value("cells")
                        .toObject()
                        .value(QStringLiteral("B%1").arg(row))["v"]
                        .toVariant()
                        .toString();
        QCOMPARE(pids.join(' '), exported);
    }

    // A report closed or deleted in the middle of a query keeps no records and, once deleted,
    // no database connection.
    void closedReportHoldsNothing_data()
    {
        QTest::addColumn<bool>("reject");
        QTest::newRow("closed") << true;
        QTest::newRow("deleted") << false;
    }
    void closedReportHoldsNothing()
    {
        QFETCH(bool, reject);
        QVERIFY(seed(m_path, 20000, QStringLiteral("08:00:00"), 3));
        const QStringList names = QSqlDatabase::connectionNames();
        auto dialog = std::make_unique<ReportTable>(m_path);
        QTRY_VERIFY_WITH_TIMEOUT(products(dialog.get())->rowCount() > 0, 20000);
        auto *model = static_cast<ReportTableModel *>(products(dialog.get()));
        const std::weak_ptr<tlv::ProductInfo> first = model->getProduct(model->index(0, 0));
        if (reject) {
            dialog->show();
            emit child<QTableView>(dialog.get(), "tblWidProduct")->clicked(model->index(0, 0));
            child<QPushButton>(dialog.get(), "btnReject")->click();
            QCOMPARE(model->rowCount(), 0);
            QCOMPARE(child<QTableView>(dialog.get(), "tblViewItemMore")->model()->rowCount(), 0);
            QVERIFY(chartIn(dialog.get(), "widChart")->series().isEmpty());
            QVERIFY(chartIn(dialog.get(), "widBarChart")->series().isEmpty());
            QTRY_VERIFY(first.expired());
            // Batches still on their way come before those of a next find, and are dropped.
            setRange(dialog.get(), QStringLiteral("12:00:00"), QStringLiteral("00:00:00"));
            child<QLabel>(dialog.get(), "lbTotal")->clear();
            clickFind(dialog.get());
            QCOMPARE(total(dialog.get(), 0), QStringLiteral("共0条"));
        }
        dialog.reset();
        QTRY_VERIFY(first.expired());
        QCOMPARE(QSqlDatabase::connectionNames(), names);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_MAIN(TestReportDialog)
#include "tst_reportdialog.moc"
