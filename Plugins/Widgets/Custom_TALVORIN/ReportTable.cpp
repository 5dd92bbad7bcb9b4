#include "ReportTable.h"
#include "ui_ReportTable.h"

#include "FileReveal.h"
#include "FindSequence.h"
#include "QFrameHelper.h"
#include "ReportItemModel.h"
#include "ReportTableModel.h"
#include "ReportWorkbookWriter.h"
#include "SaveFilePrompt.h"
#include "TLVDatasWork.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMap>
#include <QMouseEvent>
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

} // namespace

ReportTable::ReportTable(const QString &dbPath, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ReportTableClass)
    , m_dragOffset(0, 0)
    , m_dragging(false)
    , m_dbPath(dbPath)
    , m_tableModel(nullptr)
    , m_itemModel(nullptr)
    , m_pieChart(nullptr)
    , m_barChart(nullptr)
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
    initConnect();

    auto *worker = new TLVDatasWork(m_dbPath);
    worker->setFindSequence(m_findSequence);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &TLVDatasWork::Signal_FindResult, this, &ReportTable::Slot_FindResult);
    connect(this, &ReportTable::Signal_FindData, worker, &TLVDatasWork::Slot_FindData);
    worker->moveToThread(&m_thread);
    m_thread.start(QThread::InheritPriority);

    // A closed report holds no records: the query in flight stops and the models are emptied.
    connect(this, &QDialog::finished, this, &ReportTable::releaseRecords);

    // Today's products, before the dialog is even shown.
    Slot_BtnFindClicked();
}

ReportTable::~ReportTable()
{
    // A running query stops at its next row; the worker is then deleted on its own thread.
    m_findSequence->cancelAll();
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
    m_tableModel->setHeaders({QStringLiteral("时间"), QStringLiteral("料号,工单号"), QStringLiteral("长宽"),
                              QStringLiteral("OK/NG"), QStringLiteral("NG类别")});
    ui->tblWidProduct->setModel(m_tableModel);
    ui->tblWidProduct->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tblWidProduct->verticalHeader()->setVisible(true);
    ui->tblWidProduct->horizontalHeader()->setStretchLastSection(true);
    ui->tblWidProduct->setColumnWidth(0, 210);
    ui->tblWidProduct->setColumnWidth(1, 230);
    ui->tblWidProduct->setColumnWidth(3, 60);

    m_itemModel = new ReportItemModel(this);
    m_itemModel->setHeaders({QStringLiteral("孔序号"), QStringLiteral("OK/NG"), QStringLiteral("位置(cm)"),
                             QStringLiteral("孔径")});
    ui->tblViewItemMore->setModel(m_itemModel);
    ui->tblViewItemMore->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tblViewItemMore->verticalHeader()->setVisible(false);
    ui->tblViewItemMore->horizontalHeader()->setDefaultSectionSize(100);
    ui->tblViewItemMore->horizontalHeader()->setStretchLastSection(true);

    const QFont chartFont(QStringLiteral("Arial"), 10);

    m_pieChart = new QChart();
    m_pieChart->setTitle(QStringLiteral("检测结果分布"));
    auto *pieView = new QChartView(m_pieChart);
    pieView->setRenderHint(QPainter::Antialiasing);
    pieView->setFont(chartFont);
    auto *pieLayout = new QHBoxLayout();
    pieLayout->setContentsMargins(0, 0, 0, 0);
    pieLayout->setSpacing(0);
    pieLayout->addWidget(pieView);
    ui->widChart->setLayout(pieLayout);

    m_barChart = new QChart();
    m_barChart->setTitle(QStringLiteral("缺陷类型统计"));
    m_barChart->setAnimationOptions(QChart::SeriesAnimations);
    m_barChart->setTheme(QChart::ChartThemeLight);
    auto *barView = new QChartView(m_barChart);
    barView->setRenderHint(QPainter::Antialiasing);
    barView->setFont(chartFont);
    auto *barLayout = new QHBoxLayout();
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(0);
    barLayout->addWidget(barView);
    ui->widBarChart->setLayout(barLayout);
}

void ReportTable::initConnect()
{
    connect(ui->btnReject, &QPushButton::clicked, this, &QDialog::reject);
    connect(
        ui->btnResize, &QPushButton::clicked, ui->btnResize,
        [this] { setWindowState(windowState() == Qt::WindowNoState ? Qt::WindowMaximized : Qt::WindowNoState); },
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

    m_tableModel->clearDatas();
    m_itemModel->clearDatas();
    updatePieChart();
    updateBarChart({}, {});

    m_findSequence->requestSent();
    emit Signal_FindData(tmStart, tmEnd, QString());
}

void ReportTable::Slot_FindResult(bool bCompleted, QList<std::shared_ptr<tlv::ProductInfo>> vtDatas)
{
    // Batches of a query that a later find or the closing of the report abandoned.
    if (!m_findSequence->acceptDelivery())
        return;
    m_tableModel->appendDatas(vtDatas);
    if (!bCompleted)
        return;
    ui->lbTotal->setText(QStringLiteral("共%1条").arg(m_tableModel->rowCount(QModelIndex())));
    updatePieChart();
}

void ReportTable::releaseRecords()
{
    m_findSequence->cancelAll();
    m_tableModel->clearDatas();
    m_itemModel->clearDatas();
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
    QModelIndexList indexes;
    if (QItemSelectionModel *selection = ui->tblWidProduct->selectionModel())
        indexes = selection->selectedRows(0);
    if (indexes.isEmpty()) {
        const int rows = m_tableModel->rowCount(QModelIndex());
        indexes.reserve(rows);
        for (int row = 0; row < rows; ++row)
            indexes.append(m_tableModel->index(row, 0));
    }
    if (indexes.isEmpty())
        return;

    const QString fileName = SaveFilePrompt::getSaveFileName(this, tr("Save File"), tr("xlsx (*.xlsx)"));
    if (fileName.isEmpty())
        return;

    QList<std::shared_ptr<tlv::ProductInfo>> products;
    products.reserve(indexes.size());
    for (const QModelIndex &index : qAsConst(indexes)) {
        if (std::shared_ptr<tlv::ProductInfo> product = m_tableModel->getProduct(index).lock())
            products.append(std::move(product));
    }

    ReportWorkbookWriter::write(fileName, products);
    FileReveal::reveal(fileName);
}

void ReportTable::updatePieChart()
{
    const QList<QAbstractSeries *> oldSeries = m_pieChart->series();
    for (QAbstractSeries *series : oldSeries) {
        m_pieChart->removeSeries(series);
        delete series;
    }
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

void ReportTable::updateBarChart(const QList<std::shared_ptr<tlv::HoleInfo>> &holes,
                                 const QList<std::shared_ptr<tlv::ApeInfo>> &findings)
{
    const QList<QAbstractSeries *> oldSeries = m_barChart->series();
    for (QAbstractSeries *series : oldSeries) {
        m_barChart->removeSeries(series);
        delete series;
    }
    const QList<QAbstractAxis *> oldAxes = m_barChart->axes(Qt::Horizontal | Qt::Vertical);
    for (QAbstractAxis *axis : oldAxes) {
        m_barChart->removeAxis(axis);
        delete axis;
    }

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
    const QStringList categories = categoryNames(counts.keys());
    series->append(set);
    set->setColor(QColor(70, 130, 180, 255));

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

    m_barChart->addAxis(axisX, Qt::AlignBottom);
    m_barChart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisX);
    series->attachAxis(axisY);
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
