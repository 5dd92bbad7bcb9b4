#include "ReportTable.h"
#include "ui_ReportTable.h"

#include "CapabilityView.h"
#include "FindSequence.h"
#include "HistorySwitch.h"
#include "QFrameHelper.h"
#include "ReleaseHold.h"
#include "RepaintThrottle.h"
#include "ReportExport.h"
#include "ReportItemModel.h"
#include "ReportTableModel.h"
#include "RowNumberHeader.h"
#include "SaveFilePrompt.h"
#include "TLVDatasWork.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMap>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSet>
#include <QStringList>
#include <QTime>
#include <QVector>

#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtCharts/QValueAxis>

QT_CHARTS_USE_NAMESPACE

namespace {

// Longer defect names are cut on the axis: a hostile name must not make the chart lay out a
// label of tens of thousands of characters.
constexpr int kMaxCategoryLength = 40;

// Axis names for the defect names in order, each bounded and all distinct (the axis merges
// equal names).
QStringList categoryNames(const QStringList &names)
{
    QStringList categories;
    QSet<QString> taken;
    for (const QString &name : names) {
        QString shown = name;
        if (name.size() > kMaxCategoryLength)
            shown = name.left(kMaxCategoryLength - 1) + QChar(0x2026);
        for (int n = 2; taken.contains(shown); ++n) {
            const QString suffix = QStringLiteral("…(%1)").arg(n);
            shown = name.left(kMaxCategoryLength - suffix.size()) + suffix;
        }
        taken.insert(shown);
        categories.append(shown);
    }
    return categories;
}

// A whole-number tick step of 1, 2 or 5 times a power of ten, for at most about six ticks.
double tickInterval(int max)
{
    double step = 1.0;
    while (max / step > 6.0) {
        if (max / (step * 2.0) <= 6.0)
            return step * 2.0;
        if (max / (step * 5.0) <= 6.0)
            return step * 5.0;
        step *= 10.0;
    }
    return step;
}

// A chart filling the host widget, drawn antialiased with the chart font.
QChart *addChart(QWidget *host, const QString &title)
{
    auto *chart = new QChart();
    chart->setTitle(title);
    auto *view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFont(QFont(QStringLiteral("Arial"), 10));
    auto *layout = new QHBoxLayout();
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view);
    host->setLayout(layout);
    return chart;
}

void clearChart(QChart *chart)
{
    const QList<QAbstractSeries *> oldSeries = chart->series();
    for (QAbstractSeries *series : oldSeries) {
        chart->removeSeries(series);
        delete series;
    }
    const QList<QAbstractAxis *> oldAxes = chart->axes(Qt::Horizontal | Qt::Vertical);
    for (QAbstractAxis *axis : oldAxes) {
        chart->removeAxis(axis);
        delete axis;
    }
}

// NG holes count as "尺寸NG"; each NG finding counts its defect names.
QMap<QString, int> defectCounts(
    const QList<std::shared_ptr<tlv::HoleInfo>> &holes, const QList<std::shared_ptr<tlv::ApeInfo>> &findings)
{
    QMap<QString, int> counts;
    for (const std::shared_ptr<tlv::HoleInfo> &hole : holes) {
        if (hole && !hole->status)
            ++counts[QStringLiteral("尺寸NG")];
    }
    for (const std::shared_ptr<tlv::ApeInfo> &finding : findings) {
        if (!finding || finding->status)
            continue;
        for (const QString &name : finding->ngtypes)
            ++counts[name];
    }
    return counts;
}

void addBarAxes(QChart *chart, QBarSeries *series, const QStringList &categories, int max)
{
    const QFont axisFont(QStringLiteral("Arial"), 10);

    auto *axisX = new QBarCategoryAxis();
    axisX->append(categories);
    axisX->setTitleText(QStringLiteral("缺陷类型"));
    axisX->setLabelsAngle(-45);
    axisX->setTitleVisible(false);
    axisX->setTitleFont(axisFont);
    axisX->setLabelsFont(axisFont);

    auto *axisY = new QValueAxis();
    axisY->setTitleText(QStringLiteral("数量"));
    axisY->setLabelFormat(QStringLiteral("%d"));
    axisY->setTitleVisible(false);
    axisY->setTitleFont(axisFont);
    axisY->setLabelsFont(axisFont);
    axisY->setRange(0.0, max + max * 0.1);
    // Ticks between whole numbers would print "%d" labels that do not match their place.
    axisY->setTickType(QValueAxis::TicksDynamic);
    axisY->setTickAnchor(0.0);
    axisY->setTickInterval(tickInterval(max));

    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisX);
    series->attachAxis(axisY);
}

} // namespace

ReportTable::ReportTable(const QString &dbPath, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ReportTableClass)
    , m_dragOffset(0, 0)
    , m_dbPath(dbPath)
    , m_findSequence(std::make_shared<FindSequence>())
{
    ui->setupUi(this);

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_TranslucentBackground);

    auto *frameHelper = new QFrameHelper(this);
    frameHelper->activateOn(this);
    frameHelper->setTitleHeight(60);
    frameHelper->setWidgetMovable(true);
    frameHelper->setWidgetResizable(false);

    initView();
    m_history = HistorySwitch::isOn(m_dbPath);
    if (m_history)
        addSearchField();
    initConnect();

    auto *worker = new TLVDatasWork(m_dbPath);
    worker->setFindSequence(m_findSequence);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_workerConnections = {
        connect(worker, &TLVDatasWork::Signal_FindResult, this, &ReportTable::Slot_FindResult),
        connect(this, &ReportTable::Signal_FindData, worker, &TLVDatasWork::Slot_FindData),
        connect(this, &ReportTable::Signal_FindHistory, worker, &TLVDatasWork::Slot_FindHistory),
    };
    worker->moveToThread(&m_thread);
    m_thread.start(QThread::InheritPriority);

    // A closed report holds no records: the query in flight stops and the models are emptied.
    connect(this, &QDialog::finished, this, &ReportTable::releaseRecords);

    // Today's products, before the dialog is even shown.
    Slot_BtnFindClicked();
}

ReportTable::~ReportTable()
{
    // A running query stops at its next row; the worker is then deleted on its own thread, with
    // nothing left that ties it to this dialog.
    m_findSequence->cancelAll();
    for (const QMetaObject::Connection &connection : m_workerConnections)
        disconnect(connection);
    m_thread.requestInterruption();
    m_thread.exit(0);
    m_thread.wait();
    delete ui;
}

void ReportTable::initView()
{
    ui->dateTimeStart->setDate(QDate::currentDate());
    ui->dateTimeStart->setTime(QTime::fromString(QStringLiteral("00:00:00"), QStringLiteral("hh:mm:ss")));
    ui->dateTimeEnd->setDate(QDate::currentDate());

    m_tableModel = new ReportTableModel(this);
    m_tableModel->setHeaders({ QStringLiteral("时间"), QStringLiteral("料号,工单号"), QStringLiteral("长宽"),
        QStringLiteral("OK/NG"), QStringLiteral("NG类别") });
    ui->tblWidProduct->setVerticalHeader(new RowNumberHeader(ui->tblWidProduct));
    ui->tblWidProduct->setModel(m_tableModel);
    ui->tblWidProduct->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tblWidProduct->verticalHeader()->setVisible(true);
    ui->tblWidProduct->horizontalHeader()->setStretchLastSection(true);
    ui->tblWidProduct->setColumnWidth(0, 210);
    ui->tblWidProduct->setColumnWidth(1, 230);
    ui->tblWidProduct->setColumnWidth(3, 60);
    m_productRepaint = new RepaintThrottle(ui->tblWidProduct, 100, this);
    m_releaseHold = new ReleaseHold(1000, this);

    m_itemModel = new ReportItemModel(this);
    m_itemModel->setHeaders({ QStringLiteral("孔序号"), QStringLiteral("OK/NG"), QStringLiteral("位置(cm)"),
        QStringLiteral("孔径") });
    ui->tblViewItemMore->setModel(m_itemModel);
    ui->tblViewItemMore->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tblViewItemMore->verticalHeader()->setVisible(false);
    ui->tblViewItemMore->horizontalHeader()->setDefaultSectionSize(100);
    ui->tblViewItemMore->horizontalHeader()->setStretchLastSection(true);

    m_pieChart = addChart(ui->widChart, QStringLiteral("检测结果分布"));
    m_barChart = addChart(ui->widBarChart, QStringLiteral("缺陷类型统计"));
    m_barChart->setAnimationOptions(QChart::SeriesAnimations);
    m_barChart->setTheme(QChart::ChartThemeLight);
}

void ReportTable::initConnect()
{
    connect(ui->btnReject, &QPushButton::clicked, this, &QDialog::reject);
    connect(
        ui->btnResize, &QPushButton::clicked, ui->btnResize,
        [this] {
            setWindowState(windowState() == Qt::WindowNoState ? Qt::WindowMaximized : Qt::WindowNoState);
        },
        Qt::DirectConnection);
    connect(ui->btnFind, &QPushButton::clicked, this, &ReportTable::Slot_BtnFindClicked);
    connect(ui->tblWidProduct, &QTableView::clicked, this, &ReportTable::Slot_TableViewItemClicked);
    connect(ui->btnExport, &QPushButton::clicked, this, &ReportTable::Slot_BtnExportClicked);
}

void ReportTable::Slot_BtnFindClicked()
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QString tmStart = ui->dateTimeStart->dateTime().toString(format);
    const QString tmEnd = ui->dateTimeEnd->dateTime().toString(format);

    // The records shown so far are freed once this query has its rows.
    m_tableModel->clearDatas(*m_releaseHold);
    m_itemModel->clearDatas();
    m_productRepaint->flush();
    updatePieChart();
    updateBarChart({}, {});

    m_findSequence->requestSent();
    if (m_history)
        emit Signal_FindHistory(tmStart, tmEnd, m_search->text().trimmed());
    else
        emit Signal_FindData(tmStart, tmEnd, QString());
}

// A material number, an order number or any part of the barcode, found within the time range
// by 查找 or Enter; empty finds the whole range.
void ReportTable::addSearchField()
{
    m_search = new QLineEdit(ui->centralWidget);
    m_search->setObjectName(QStringLiteral("editBarcode"));
    m_search->setPlaceholderText(QStringLiteral("料号/工单号/条码"));
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumSize(220, 28);
    ui->horizontalLayout_5->addWidget(m_search);
    connect(m_search, &QLineEdit::returnPressed, this, &ReportTable::Slot_BtnFindClicked);

    auto *capability = new QPushButton(QStringLiteral("过程能力"), ui->centralWidget);
    capability->setObjectName(QStringLiteral("btnCapability"));
    capability->setMinimumSize(100, 32);
    ui->horizontalLayout_5->addWidget(capability);
    connect(capability, &QPushButton::clicked, this, &ReportTable::openCapability);
}

// The capability of the products loaded now, in a window of its own that goes when it is closed.
void ReportTable::openCapability()
{
    auto *view = new CapabilityView(m_dbPath, m_tableModel->products(), this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowModality(Qt::WindowModal);
    view->show();
}

// The signature is the worker's signal's, by value as the queued connection delivers it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void ReportTable::Slot_FindResult(bool bCompleted, QList<std::shared_ptr<tlv::ProductInfo>> vtDatas)
{
    // Batches of a query that a later find or the closing of the report abandoned.
    if (!m_findSequence->acceptDelivery())
        return;
    m_tableModel->appendDatas(vtDatas);
    if (!bCompleted && m_findSequence->latestFailed()) {
        // The rows could not all be read: no total and no pie that would pass for the range's.
        m_productRepaint->flush();
        ui->lbTotal->setText(
            QStringLiteral("共%1条（读取出错，不完整）").arg(m_tableModel->rowCount(QModelIndex())));
        m_releaseHold->release();
        return;
    }
    if (!bCompleted) {
        m_productRepaint->changed();
        return;
    }
    m_productRepaint->flush();
    ui->lbTotal->setText(QStringLiteral("共%1条").arg(m_tableModel->rowCount(QModelIndex())));
    updatePieChart();
    m_releaseHold->release();
}

void ReportTable::releaseRecords()
{
    m_findSequence->cancelAll();
    m_tableModel->clearDatas();
    m_itemModel->clearDatas();
    m_releaseHold->release();
    m_productRepaint->flush();
    updatePieChart();
    updateBarChart({}, {});
}

void ReportTable::Slot_TableViewItemClicked(QModelIndex index)
{
    if (!index.isValid())
        return;
    m_itemModel->clearDatas();
    const std::shared_ptr<tlv::ProductInfo> product = m_tableModel->getProduct(index).lock();
    if (!product)
        return;
    m_itemModel->appendDatas(product->vtHoles);
    updateBarChart(product->vtHoles, product->vtApes);
}

void ReportTable::Slot_BtnExportClicked()
{
    const ReportWorkbookWriter::Products products = exportList();
    if (products.isEmpty())
        return;
    const QString fileName = SaveFilePrompt::getSaveFileName(this, tr("Save File"), tr("xlsx (*.xlsx)"));
    if (fileName.isEmpty())
        return;

    // Shown once the export takes longer than a second.
    QProgressDialog progress(this);
    auto *bar = new QProgressBar(&progress);
    bar->setFormat(QStringLiteral("%v / %m"));
    progress.setBar(bar);
    progress.setWindowTitle(QStringLiteral("导出到表格"));
    progress.setLabelText(QStringLiteral("正在导出…"));
    progress.setCancelButtonText(QStringLiteral("取消"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    progress.setAutoReset(false); // stays up, full, while the file is saved
    progress.setRange(0, products.size());
    progress.setValue(0);
    // A cancel is honoured until the file would replace an earlier one, while saving too.
    ReportExport::runInBackground(fileName, products, [&progress](int done) {
        if (progress.wasCanceled())
            return false; // the cancel hid the dialog; setValue() would show it again
        if (done == progress.maximum())
            progress.setLabelText(QStringLiteral("正在保存…"));
        progress.setValue(done);
        return !progress.wasCanceled();
    });
}

// The selected rows in the order the selection reports them, or else every row; the products
// as they are now, so that rows arriving meanwhile do not change what is written.
ReportWorkbookWriter::Products ReportTable::exportList() const
{
    QModelIndexList selected;
    if (QItemSelectionModel *selection = ui->tblWidProduct->selectionModel())
        selected = selection->selectedRows(0);
    if (selected.isEmpty())
        return m_tableModel->products();
    ReportWorkbookWriter::Products products;
    products.reserve(selected.size());
    for (const QModelIndex &index : qAsConst(selected)) {
        if (std::shared_ptr<tlv::ProductInfo> product = m_tableModel->getProduct(index).lock())
            products.append(std::move(product));
    }
    return products;
}

void ReportTable::updatePieChart()
{
    clearChart(m_pieChart);
    if (m_tableModel->rowCount(QModelIndex()) < 1)
        return;

    auto *series = new QPieSeries();
    const float ok = m_tableModel->getOkRate();
    QPieSlice *okSlice = series->append(QStringLiteral("OK (%1%)").arg(double(ok), 0, 'f', 2), double(ok));
    okSlice->setColor(QColor(50, 205, 50, 255));
    okSlice->setLabelColor(Qt::darkGreen);
    okSlice->setBorderColor(Qt::transparent);

    const float ng = 100.0f - ok;
    QPieSlice *ngSlice = series->append(QStringLiteral("NG (%1%)").arg(double(ng), 0, 'f', 2), double(ng));
    ngSlice->setColor(QColor(220, 20, 60, 255));
    ngSlice->setLabelColor(Qt::darkRed);
    ngSlice->setBorderColor(Qt::transparent);

    series->setLabelsVisible(false);
    series->setHoleSize(0.35);
    series->setPieSize(0.8);
    series->setLabelsPosition(QPieSlice::LabelOutside);

    m_pieChart->addSeries(series);
    m_pieChart->legend()->setAlignment(Qt::AlignRight);
    m_pieChart->legend()->setFont(QFont(QStringLiteral("Arial"), 10));
}

void ReportTable::updateBarChart(
    const QList<std::shared_ptr<tlv::HoleInfo>> &holes, const QList<std::shared_ptr<tlv::ApeInfo>> &findings)
{
    clearChart(m_barChart);
    const QMap<QString, int> counts = defectCounts(holes, findings);
    if (counts.isEmpty())
        return;

    auto *series = new QBarSeries();
    m_barChart->addSeries(series);
    m_barChart->legend()->hide();

    auto *set = new QBarSet(QStringLiteral("缺陷数量"));
    int max = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        set->append(double(it.value()));
        max = qMax(max, it.value());
    }
    series->append(set);
    set->setColor(QColor(70, 130, 180, 255));
    addBarAxes(m_barChart, series, categoryNames(counts.keys()), max);
}

void ReportTable::mousePressEvent(QMouseEvent *event)
{
    if (windowState() == Qt::WindowNoState && event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - frameGeometry().topLeft();
        event->accept();
    }
}

void ReportTable::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        move(event->globalPos() - m_dragOffset);
        event->accept();
    }
}

void ReportTable::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
    }
}
