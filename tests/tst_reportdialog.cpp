#include "FileReveal.h"
#include "ReportTable.h"
#include "ReportTableModel.h"
#include "SaveFilePrompt.h"
#include "../Plugins/Widgets/Custom_TALVORIN/ui_ReportTable.h"

#include <QAbstractItemModel>
#include <QDate>
#include <QDateTimeEdit>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QItemSelectionModel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtCharts/QValueAxis>

#include <memory>

QT_CHARTS_USE_NAMESPACE

using ProductList = QList<std::shared_ptr<tlv::ProductInfo>>;
using Holes = QList<std::shared_ptr<tlv::HoleInfo>>;
using Findings = QList<std::shared_ptr<tlv::ApeInfo>>;
Q_DECLARE_METATYPE(Holes)
Q_DECLARE_METATYPE(Findings)

namespace {

struct SeedRow
{
    QString uptime;
    int status = 3;
    QString diameter = QStringLiteral("[]");
    QString appearance = QStringLiteral("[]");
};

// Writes rows the way the panel stores them, through a connection of our own.
void seed(const QString &dbPath, const QList<SeedRow> &rows)
{
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbPath);
        QVERIFY(db.open());
        QSqlQuery q(db);
        if (!db.tables().contains(QStringLiteral("product_data_new"))) {
            QVERIFY2(q.exec(QStringLiteral(
                         "create table product_data_new (id integer primary key autoincrement not null,uptime text, "
                         "pid integer, barcode text,psize text,diameter text,appearance text, status integer)")),
                     qPrintable(q.lastError().text()));
        }
        QVERIFY(db.transaction());
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO product_data_new (uptime, pid, barcode, psize, diameter, "
                                         "appearance, status) VALUES (?, ?, ?, ?, ?, ?, ?)")));
        int pid = 1;
        for (const SeedRow &row : rows) {
            q.addBindValue(row.uptime);
            q.addBindValue(pid++);
            q.addBindValue(QStringLiteral("M1,W1"));
            q.addBindValue(QStringLiteral("宽度1:12.5"));
            q.addBindValue(row.diameter);
            q.addBindValue(row.appearance);
            q.addBindValue(row.status);
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        }
        QVERIFY(db.commit());
    }
    QSqlDatabase::removeDatabase(name);
}

QList<SeedRow> todayRows(int count, const QString &diameter = QStringLiteral("[]"))
{
    const QString stamp = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 08:00:00");
    QList<SeedRow> rows;
    for (int i = 0; i < count; ++i) {
        SeedRow row;
        row.uptime = stamp;
        row.diameter = diameter;
        rows.append(row);
    }
    return rows;
}

template <typename T>
T *child(QObject *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

QChart *chartIn(QObject *dialog, const char *host)
{
    auto *view = child<QWidget>(dialog, host)->findChild<QChartView *>();
    return view ? view->chart() : nullptr;
}

QString total(QObject *dialog)
{
    return child<QLabel>(dialog, "lbTotal")->text();
}

std::shared_ptr<tlv::HoleInfo> hole(int idx, bool ok)
{
    auto h = std::make_shared<tlv::HoleInfo>();
    h->idx = idx;
    h->status = ok;
    h->value = QString::number(5.0 + idx);
    return h;
}

std::shared_ptr<tlv::ApeInfo> finding(bool ok, const QStringList &types)
{
    auto a = std::make_shared<tlv::ApeInfo>();
    a->status = ok;
    a->ngtypes = types;
    return a;
}

std::shared_ptr<tlv::ProductInfo> product(int status)
{
    auto p = std::make_shared<tlv::ProductInfo>();
    p->status = status;
    return p;
}

void deliver(ReportTable *dialog, const ProductList &batch, bool completed)
{
    QVERIFY(QMetaObject::invokeMethod(dialog, "Slot_FindResult", Qt::DirectConnection, Q_ARG(bool, completed),
                                      Q_ARG(QList<std::shared_ptr<tlv::ProductInfo>>, batch)));
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &local, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class TestReportDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formAfterSetup();
    void formKeepsObjectName();
    void firstQueryIsToday();
    void batchesUpdateTotalOnce();
    void findClearsBeforeResults();
    void clickShowsHoles();
    void pieChart_data();
    void pieChart();
    void barChart_data();
    void barChart();
    void repeatedClicksReplaceBars();
    void resizeToggles();
    void dragMovesOnlyWhenNormal();
    void exportList_data();
    void exportList();
    void destroyedDuringLongQuery();

private:
    // A dialog over an empty table whose first (empty) query has completed.
    std::unique_ptr<ReportTable> idleDialog();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dbPath;
};

void TestReportDialog::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestReportDialog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_dbPath = m_dir->filePath(QStringLiteral("TLV.db"));
}

void TestReportDialog::cleanup()
{
    m_dir.reset();
}

std::unique_ptr<ReportTable> TestReportDialog::idleDialog()
{
    seed(m_dbPath, {});
    auto dialog = std::make_unique<ReportTable>(m_dbPath);
    // Nothing is delivered before the event loop runs, so the sentinel shows when the query ends.
    child<QLabel>(dialog.get(), "lbTotal")->setText(QStringLiteral("pending"));
    if (!QTest::qWaitFor([&] { return total(dialog.get()) == QStringLiteral("共0条"); }, 10000))
        return nullptr;
    return dialog;
}

void TestReportDialog::formAfterSetup()
{
    QDialog dialog;
    Ui::ReportTableClass ui;
    ui.setupUi(&dialog);

    QCOMPARE(dialog.objectName(), QStringLiteral("ReportTableClass"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ReportTable"));
    QCOMPARE(dialog.size(), QSize(1150, 847));
    QCOMPARE(ui.dateTimeStart->dateTime(), QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0)));
    QCOMPARE(ui.dateTimeEnd->dateTime(), QDateTime(QDate(2025, 1, 1), QTime(23, 59, 59)));
    QCOMPARE(ui.dateTimeStart->displayFormat(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QCOMPARE(ui.dateTimeEnd->displayFormat(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QCOMPARE(ui.dateTimeStart->text(), QStringLiteral("2025-01-01 00:00:00"));
    QCOMPARE(ui.dateTimeEnd->text(), QStringLiteral("2025-01-01 23:59:59"));
    QVERIFY(ui.dateTimeStart->calendarPopup());
    QVERIFY(ui.dateTimeEnd->calendarPopup());
    QCOMPARE(ui.dateTimeStart->currentSection(), QDateTimeEdit::YearSection);
    QCOMPARE(ui.dateTimeStart->minimumSize(), QSize(240, 28));

    QCOMPARE(ui.lbTotal->text(), QStringLiteral("共0条"));
    QCOMPARE(ui.lbTimeFrom->text(), QStringLiteral("时间范围："));
    QCOMPARE(ui.lbTimeTo->text(), QStringLiteral("至"));
    QCOMPARE(ui.labelTitle->text(), QStringLiteral("产品工单"));
    QCOMPARE(ui.btnFind->text(), QStringLiteral("查找"));
    QCOMPARE(ui.btnExport->text(), QStringLiteral("导出到表格"));
    QVERIFY(ui.btnResize->text().isEmpty());
    QVERIFY(ui.btnReject->text().isEmpty());
    QCOMPARE(ui.btnResize->toolTip(), QStringLiteral("最大化"));
    QCOMPARE(ui.btnReject->toolTip(), QStringLiteral("取消"));

    QCOMPARE(ui.widChart->maximumWidth(), 450);
    QCOMPARE(ui.widMore->minimumHeight(), 300);
    QCOMPARE(ui.titleWidget->minimumHeight(), 45);
    QCOMPARE(ui.titleWidget->maximumHeight(), 49);
    QCOMPARE(ui.btnFind->minimumSize(), QSize(100, 32));
    QCOMPARE(ui.btnFind->maximumSize(), QSize(100, 42));
    QCOMPARE(ui.tblViewItemMore->minimumWidth(), 450);

    QVERIFY(dialog.styleSheet().contains(QStringLiteral("#btnFind{background-color:#00BCD4;color:white;font-size:24px;}")));
    QVERIFY(ui.commonBackgroundWidget->styleSheet().contains(QStringLiteral("font: 12pt \"微软雅黑\"")));
    QVERIFY(ui.centralWidget->styleSheet().contains(QStringLiteral("QLabel{color:#303133;}")));
    QVERIFY(ui.widMore->styleSheet().isEmpty());

    // The tool row, in order.
    const QList<QWidget *> toolRow = {ui.lbTimeFrom, ui.dateTimeStart, ui.lbTimeTo, ui.dateTimeEnd,
                                      ui.btnFind, ui.lbTotal, ui.btnExport};
    int last = -1;
    for (QWidget *w : toolRow) {
        const int at = ui.horizontalLayout_5->indexOf(w);
        QVERIFY(at > last);
        last = at;
    }
    QCOMPARE(ui.horizontalLayout_2->stretch(1), 1);
    QCOMPARE(ui.horizontalLayout->stretch(1), 1);
}

void TestReportDialog::formKeepsObjectName()
{
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("mine"));
    Ui::ReportTableClass ui;
    ui.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), QStringLiteral("mine"));
}

void TestReportDialog::firstQueryIsToday()
{
    QList<SeedRow> rows = todayRows(3);
    SeedRow yesterday;
    yesterday.uptime = QDate::currentDate().addDays(-1).toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 12:00:00");
    rows.append(yesterday);
    seed(m_dbPath, rows);

    ReportTable dialog(m_dbPath);
    QCOMPARE(total(&dialog), QStringLiteral("共0条"));
    QCOMPARE(child<QDateTimeEdit>(&dialog, "dateTimeStart")->dateTime(), QDateTime(QDate::currentDate(), QTime(0, 0)));
    QCOMPARE(child<QDateTimeEdit>(&dialog, "dateTimeEnd")->dateTime(),
             QDateTime(QDate::currentDate(), QTime(23, 59, 59)));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(dialog.windowModality(), Qt::WindowModal);
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));

    QTRY_COMPARE_WITH_TIMEOUT(total(&dialog), QStringLiteral("共3条"), 10000);
    QAbstractItemModel *model = child<QTableView>(&dialog, "tblWidProduct")->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Vertical).toInt(), 1);
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("料号,工单号"));
    QVERIFY(!child<QTableView>(&dialog, "tblWidProduct")->verticalHeader()->isHidden());
}

void TestReportDialog::batchesUpdateTotalOnce()
{
    seed(m_dbPath, todayRows(250));
    ReportTable dialog(m_dbPath);
    QAbstractItemModel *model = child<QTableView>(&dialog, "tblWidProduct")->model();
    QChart *pie = chartIn(&dialog, "widChart");
    QVERIFY(pie);

    QList<int> batchSizes;
    QStringList totalsSeen;
    QList<int> pieSeriesSeen;
    connect(model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int first, int lastRow) {
        batchSizes.append(lastRow - first + 1);
        totalsSeen.append(total(&dialog));
        pieSeriesSeen.append(pie->series().size());
    });

    QTRY_COMPARE_WITH_TIMEOUT(total(&dialog), QStringLiteral("共250条"), 10000);
    QCOMPARE(batchSizes, (QList<int>{101, 101, 48}));
    QCOMPARE(totalsSeen, (QStringList{QStringLiteral("共0条"), QStringLiteral("共0条"), QStringLiteral("共0条")}));
    QCOMPARE(pieSeriesSeen, (QList<int>{0, 0, 0}));
    QCOMPARE(pie->series().size(), 1);
    QCOMPARE(model->rowCount(), 250);
}

void TestReportDialog::findClearsBeforeResults()
{
    const QString holes = QStringLiteral(R"([{"idx":0,"position":1,"status":false,"value":5.1}])");
    seed(m_dbPath, todayRows(5, holes));
    ReportTable dialog(m_dbPath);
    QTRY_COMPARE_WITH_TIMEOUT(total(&dialog), QStringLiteral("共5条"), 10000);

    auto *products = child<QTableView>(&dialog, "tblWidProduct");
    auto *holeView = child<QTableView>(&dialog, "tblViewItemMore");
    emit products->clicked(products->model()->index(0, 0));
    QCOMPARE(holeView->model()->rowCount(), 1);
    QChart *pie = chartIn(&dialog, "widChart");
    QChart *bars = chartIn(&dialog, "widBarChart");
    QCOMPARE(pie->series().size(), 1);
    QCOMPARE(bars->series().size(), 1);
    auto *productModel = qobject_cast<ReportTableModel *>(products->model());
    QVERIFY(productModel);
    const std::weak_ptr<tlv::ProductInfo> shown = productModel->getProduct(productModel->index(0, 0));
    const std::weak_ptr<tlv::HoleInfo> shownHole = shown.lock()->vtHoles.value(0);
    QVERIFY(!shownHole.expired());

    child<QPushButton>(&dialog, "btnFind")->click();
    // Cleared synchronously, before the worker answers.
    QCOMPARE(products->model()->rowCount(), 0);
    QCOMPARE(holeView->model()->rowCount(), 0);
    QCOMPARE(pie->series().size(), 0);
    QCOMPARE(bars->series().size(), 0);
    QCOMPARE(bars->axes().size(), 0);
    QCOMPARE(total(&dialog), QStringLiteral("共5条"));
    // The cleared records are let go, holes included.
    QTRY_VERIFY(shown.expired());
    QTRY_VERIFY(shownHole.expired());

    QTRY_COMPARE_WITH_TIMEOUT(products->model()->rowCount(), 5, 10000);
    QTRY_COMPARE(pie->series().size(), 1);
}

void TestReportDialog::clickShowsHoles()
{
    const QString holes = QStringLiteral(
        R"([{"idx":2,"position":5.3,"status":true,"value":7.5},{"idx":0,"position":1,"status":false,"value":5.25}])");
    const QString apes = QStringLiteral(R"([{"idx":0,"ngtypes":["划伤"],"position":0,"status":false}])");
    QList<SeedRow> rows = todayRows(2);
    rows[1].diameter = holes;
    rows[1].appearance = apes;
    rows[1].status = 1;
    seed(m_dbPath, rows);

    ReportTable dialog(m_dbPath);
    QTRY_COMPARE_WITH_TIMEOUT(total(&dialog), QStringLiteral("共2条"), 10000);
    auto *products = child<QTableView>(&dialog, "tblWidProduct");
    QAbstractItemModel *holeModel = child<QTableView>(&dialog, "tblViewItemMore")->model();
    QChart *bars = chartIn(&dialog, "widBarChart");

    // An invalid index (a click beside the rows) changes nothing.
    emit products->clicked(QModelIndex());
    QCOMPARE(holeModel->rowCount(), 0);

    emit products->clicked(products->model()->index(1, 3));
    QCOMPARE(holeModel->rowCount(), 2);
    QCOMPARE(holeModel->data(holeModel->index(0, 0)).toInt(), 2);
    QCOMPARE(holeModel->data(holeModel->index(1, 3)).toString(), QStringLiteral("5.25"));
    QCOMPARE(bars->series().size(), 1);
    auto *axis = qobject_cast<QBarCategoryAxis *>(bars->axes(Qt::Horizontal).value(0));
    QVERIFY(axis);
    QCOMPARE(axis->categories(), (QStringList{QStringLiteral("划伤"), QStringLiteral("尺寸NG")}));

    // A product without holes or findings empties the hole table and the bars.
    emit products->clicked(products->model()->index(0, 0));
    QCOMPARE(holeModel->rowCount(), 0);
    QCOMPARE(bars->series().size(), 0);
    QCOMPARE(bars->axes().size(), 0);
}

void TestReportDialog::pieChart_data()
{
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QString>("okLabel");
    QTest::addColumn<QString>("ngLabel");
    QTest::addColumn<double>("ngValue");

    QList<int> mostlyOk;
    for (int i = 0; i < 39; ++i)
        mostlyOk.append(3);
    mostlyOk.append(2);
    QTest::newRow("39 of 40") << mostlyOk << "OK (97.50%)" << "NG (2.50%)" << 2.5;
    QTest::newRow("1 of 3") << QList<int>{0, 3, 1} << "OK (33.33%)" << "NG (66.67%)" << double(100.0f - 100.0f / 3.0f);
    QTest::newRow("all OK") << QList<int>{3, 3} << "OK (100.00%)" << "NG (0.00%)" << 0.0;
    QTest::newRow("status 5 is NG") << QList<int>{5, 3} << "OK (50.00%)" << "NG (50.00%)" << 50.0;
    QTest::newRow("none") << QList<int>{} << QString() << QString() << 0.0;
}

void TestReportDialog::pieChart()
{
    QFETCH(QList<int>, statuses);
    QFETCH(QString, okLabel);
    QFETCH(QString, ngLabel);
    QFETCH(double, ngValue);

    auto dialog = idleDialog();
    QVERIFY(dialog);
    ProductList batch;
    for (int status : qAsConst(statuses))
        batch.append(product(status));
    deliver(dialog.get(), batch, true);

    QChart *pie = chartIn(dialog.get(), "widChart");
    QCOMPARE(pie->title(), QStringLiteral("检测结果分布"));
    if (statuses.isEmpty()) {
        QCOMPARE(pie->series().size(), 0);
        return;
    }
    QCOMPARE(pie->series().size(), 1);
    auto *series = qobject_cast<QPieSeries *>(pie->series().constFirst());
    QVERIFY(series);
    QCOMPARE(series->count(), 2);
    QCOMPARE(series->slices().at(0)->label(), okLabel);
    QCOMPARE(series->slices().at(1)->label(), ngLabel);
    QVERIFY(qAbs(series->slices().at(1)->value() - ngValue) < 1e-4);
    QCOMPARE(series->holeSize(), 0.35);
    QCOMPARE(series->pieSize(), 0.8);
    QCOMPARE(pie->legend()->alignment(), Qt::AlignRight);
    QCOMPARE(total(dialog.get()), QStringLiteral("共%1条").arg(statuses.size()));
}

void TestReportDialog::barChart_data()
{
    QTest::addColumn<Holes>("holes");
    QTest::addColumn<Findings>("findings");
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QList<double>>("counts");
    QTest::addColumn<double>("axisMax");

    const QString size = QStringLiteral("尺寸NG");
    QTest::newRow("holes and findings") << Holes{hole(0, false), hole(1, true), hole(2, false)}
                                        << Findings{finding(false, {"A", "B"}), finding(false, {"B"})}
                                        << QStringList{"A", "B", size} << QList<double>{1, 2, 2} << 2.2;
    QTest::newRow("finding named size NG") << Holes{hole(0, false)} << Findings{finding(false, {size})}
                                           << QStringList{size} << QList<double>{2} << 2.2;
    QTest::newRow("OK findings are skipped") << Holes{} << Findings{finding(true, {"A"}), finding(false, {"C"})}
                                             << QStringList{"C"} << QList<double>{1} << 1.1;
    QTest::newRow("no defects") << Holes{hole(0, true)} << Findings{finding(true, {"A"}), finding(false, {})}
                                << QStringList{} << QList<double>{} << 0.0;
}

void TestReportDialog::barChart()
{
    QFETCH(Holes, holes);
    QFETCH(Findings, findings);
    QFETCH(QStringList, categories);
    QFETCH(QList<double>, counts);
    QFETCH(double, axisMax);

    auto dialog = idleDialog();
    QVERIFY(dialog);
    auto p = product(0);
    p->vtHoles = holes;
    p->vtApes = findings;
    deliver(dialog.get(), {p}, true);

    auto *products = child<QTableView>(dialog.get(), "tblWidProduct");
    emit products->clicked(products->model()->index(0, 1));
    QCOMPARE(child<QTableView>(dialog.get(), "tblViewItemMore")->model()->rowCount(), holes.size());

    QChart *bars = chartIn(dialog.get(), "widBarChart");
    QCOMPARE(bars->title(), QStringLiteral("缺陷类型统计"));
    if (categories.isEmpty()) {
        QCOMPARE(bars->series().size(), 0);
        QCOMPARE(bars->axes().size(), 0);
        return;
    }
    QCOMPARE(bars->series().size(), 1);
    auto *series = qobject_cast<QBarSeries *>(bars->series().constFirst());
    QVERIFY(series);
    QCOMPARE(series->count(), 1);
    QBarSet *set = series->barSets().constFirst();
    QCOMPARE(set->label(), QStringLiteral("缺陷数量"));
    QList<double> values;
    for (int i = 0; i < set->count(); ++i)
        values.append(set->at(i));
    QCOMPARE(values, counts);

    auto *axisX = qobject_cast<QBarCategoryAxis *>(bars->axes(Qt::Horizontal).value(0));
    auto *axisY = qobject_cast<QValueAxis *>(bars->axes(Qt::Vertical).value(0));
    QVERIFY(axisX && axisY);
    QCOMPARE(axisX->categories(), categories);
    QCOMPARE(axisY->min(), 0.0);
    QVERIFY(qFuzzyCompare(axisY->max(), axisMax));
    QCOMPARE(axisY->labelFormat(), QStringLiteral("%d"));
    QCOMPARE(series->attachedAxes().size(), 2);
    QVERIFY(!bars->legend()->isVisible());
}

void TestReportDialog::repeatedClicksReplaceBars()
{
    auto dialog = idleDialog();
    QVERIFY(dialog);
    auto first = product(0);
    first->vtHoles = {hole(0, false)};
    auto second = product(1);
    second->vtApes = {finding(false, {"X", "Y"})};
    deliver(dialog.get(), {first, second}, true);

    auto *products = child<QTableView>(dialog.get(), "tblWidProduct");
    QChart *bars = chartIn(dialog.get(), "widBarChart");
    for (int row : {0, 1, 0, 1}) {
        emit products->clicked(products->model()->index(row, 0));
        QCOMPARE(bars->series().size(), 1);
        QCOMPARE(bars->axes(Qt::Horizontal).size(), 1);
        QCOMPARE(bars->axes(Qt::Vertical).size(), 1);
    }
    auto *axisX = qobject_cast<QBarCategoryAxis *>(bars->axes(Qt::Horizontal).value(0));
    QCOMPARE(axisX->categories(), (QStringList{"X", "Y"}));
}

void TestReportDialog::resizeToggles()
{
    auto dialog = idleDialog();
    QVERIFY(dialog);
    auto *button = child<QPushButton>(dialog.get(), "btnResize");
    QCOMPARE(dialog->windowState(), Qt::WindowNoState);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog->windowState(), Qt::WindowMaximized);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog->windowState(), Qt::WindowNoState);
    QCOMPARE(button->toolTip(), QStringLiteral("最大化"));
}

void TestReportDialog::dragMovesOnlyWhenNormal()
{
    auto dialog = idleDialog();
    QVERIFY(dialog);
    dialog->move(100, 100);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const QPoint start = dialog->pos();

    // Below the title band: only the dialog's own handlers drag here.
    QTest::mousePress(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 400));
    sendMouse(dialog.get(), QEvent::MouseMove, QPoint(330, 420), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(dialog->pos(), start + QPoint(30, 20));
    QTest::mouseRelease(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(330, 420));
    const QPoint dropped = dialog->pos();
    sendMouse(dialog.get(), QEvent::MouseMove, QPoint(400, 500), Qt::NoButton, Qt::NoButton);
    QCOMPARE(dialog->pos(), dropped);

    // In the title band as well.
    QTest::mousePress(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(500, 20));
    sendMouse(dialog.get(), QEvent::MouseMove, QPoint(490, 30), Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(490, 30));
    QCOMPARE(dialog->pos(), dropped + QPoint(-10, 10));

    // The right button never drags.
    const QPoint before = dialog->pos();
    QTest::mousePress(dialog.get(), Qt::RightButton, Qt::NoModifier, QPoint(300, 400));
    sendMouse(dialog.get(), QEvent::MouseMove, QPoint(350, 450), Qt::NoButton, Qt::RightButton);
    QTest::mouseRelease(dialog.get(), Qt::RightButton, Qt::NoModifier, QPoint(350, 450));
    QCOMPARE(dialog->pos(), before);

    dialog->setWindowState(Qt::WindowMaximized);
    const QRect maximised = dialog->geometry();
    QTest::mousePress(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    sendMouse(dialog.get(), QEvent::MouseMove, QPoint(350, 60), Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(dialog.get(), Qt::LeftButton, Qt::NoModifier, QPoint(350, 60));
    QCOMPARE(dialog->geometry(), maximised);
}

void TestReportDialog::exportList_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QList<int>>("exportedPids");

    QTest::newRow("nothing selected") << 4 << QList<int>{} << false << QList<int>{1, 2, 3, 4};
    QTest::newRow("selection order") << 4 << QList<int>{3, 1} << false << QList<int>{4, 2};
    QTest::newRow("cancelled") << 4 << QList<int>{} << true << QList<int>{};
    QTest::newRow("empty table") << 0 << QList<int>{} << false << QList<int>{};
}

void TestReportDialog::exportList()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, selected);
    QFETCH(bool, cancel);
    QFETCH(QList<int>, exportedPids);

    const QString fileName = m_dir->filePath(QStringLiteral("report.xlsx"));
    int prompts = 0;
    QStringList captions;
    SaveFilePrompt::setOverride([&](QWidget *, const QString &caption, const QString &filter) {
        ++prompts;
        captions << caption << filter;
        return cancel ? QString() : fileName;
    });
    int reveals = 0;
    FileReveal::setLauncher([&](const QString &, const QStringList &, const QString &) { ++reveals; });

    seed(m_dbPath, todayRows(rows));
    ReportTable dialog(m_dbPath);
    QTRY_COMPARE_WITH_TIMEOUT(total(&dialog), QStringLiteral("共%1条").arg(rows), 10000);
    auto *view = child<QTableView>(&dialog, "tblWidProduct");
    for (int row : qAsConst(selected))
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);

    QTest::mouseClick(child<QPushButton>(&dialog, "btnExport"), Qt::LeftButton);
    SaveFilePrompt::setOverride({});
    FileReveal::setLauncher({});

    QCOMPARE(prompts, rows > 0 ? 1 : 0);
    if (prompts > 0)
        QCOMPARE(captions, (QStringList{QStringLiteral("Save File"), QStringLiteral("xlsx (*.xlsx)")}));
    QCOMPARE(reveals, exportedPids.isEmpty() ? 0 : 1);
    if (exportedPids.isEmpty()) {
        QVERIFY(!QFile::exists(fileName));
        return;
    }

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
                                 "print(' '.join(str(ws.cell(r, 2).value) for r in range(2, ws.max_row + 1)))"),
                  fileName});
    QVERIFY(python.waitForFinished(30000));
    QCOMPARE(python.exitCode(), 0);
    QStringList expected;
    for (int pid : qAsConst(exportedPids))
        expected << QString::number(pid);
    QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(), expected.join(QLatin1Char(' ')));
}

void TestReportDialog::destroyedDuringLongQuery()
{
    seed(m_dbPath, todayRows(20000));
    {
        // Gone before its first query could deliver anything.
        ReportTable dialog(m_dbPath);
    }
    auto dialog = std::make_unique<ReportTable>(m_dbPath);
    QSignalSpy inserted(child<QTableView>(dialog.get(), "tblWidProduct")->model(), &QAbstractItemModel::rowsInserted);
    QVERIFY(inserted.wait(10000));
    dialog.reset();
    // Batches still queued for the dead dialog are dropped with it.
    QTest::qWait(50);
}

QTEST_MAIN(TestReportDialog)
#include "tst_reportdialog.moc"
