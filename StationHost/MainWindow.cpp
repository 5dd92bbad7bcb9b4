#include "MainWindow.h"

#include "LineSimulator.h"
#include "StationSysInterface.h"
#include "VerdictTally.h"

#include <QAction>
#include <QDateTime>
#include <QDockWidget>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

MainWindow::MainWindow(QWidget *panel, const QString &panelTitle, StationSysInterface *host,
    LineSimulator *simulator, VerdictTally *tally, const QString &dbPath, QWidget *parent)
    : QMainWindow(parent)
    , m_panel(panel)
    , m_host(host)
    , m_simulator(simulator)
    , m_tally(tally)
    , m_dbPath(dbPath)
{
    setWindowTitle(QStringLiteral("Station host – %1").arg(panelTitle));
    buildLinePane();

    auto *dock = new QDockWidget(panelTitle, this);
    dock->setObjectName(QStringLiteral("panelDock"));
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock->setWidget(panel);
    panel->setMinimumWidth(440);
    addDockWidget(Qt::RightDockWidgetArea, dock);

    auto *toolBar = addToolBar(QStringLiteral("Line"));
    toolBar->setObjectName(QStringLiteral("lineToolBar"));
    toolBar->setMovable(false);
    m_pauseAction = toolBar->addAction(QStringLiteral("暂停产线"));
    m_pauseAction->setCheckable(true);
    connect(m_pauseAction, &QAction::toggled, this, &MainWindow::togglePause);

    m_countLabel = new QLabel(this);
    statusBar()->addWidget(m_countLabel, 1);
    statusBar()->addPermanentWidget(new QLabel(QStringLiteral("数据库: %1").arg(dbPath), this));

    connect(m_tally, &VerdictTally::changed, this, &MainWindow::updateCounts);
    connect(m_simulator, &LineSimulator::productStarted, this, &MainWindow::onProductStarted);
    connect(m_simulator, &LineSimulator::productFinished, this, &MainWindow::onProductFinished);
    connect(m_simulator, &LineSimulator::finished, this, [this]() {
        m_modeLabel->setText(QStringLiteral("停止"));
        appendLog(QStringLiteral("产线停止，共 %1 件").arg(m_simulator->productsDone()));
    });
    connect(m_host, &StationSysInterface::materialNumberChanged, this, &MainWindow::onMaterialNumberChanged);
    connect(m_host, &SysInterfaceImpl::curRunningModeChanged, this, [this](CurMode mode) {
        m_modeLabel->setText(mode == CurMode_Run ? QStringLiteral("运行") : QStringLiteral("停止"));
        appendLog(QStringLiteral("运行模式 %1").arg(int(mode)));
    });
    onMaterialNumberChanged(m_host->materialNumber());
    updateCounts();
}

void MainWindow::buildLinePane()
{
    auto *pane = new QWidget(this);
    auto *layout = new QVBoxLayout(pane);

    auto *statusBox = new QGroupBox(QStringLiteral("产线状态"), pane);
    auto *form = new QFormLayout(statusBox);
    m_modeLabel = new QLabel(QStringLiteral("停止"), statusBox);
    m_productLabel = new QLabel(QStringLiteral("-"), statusBox);
    m_rateLabel = new QLabel(statusBox);
    m_materialLabel = new QLabel(statusBox);
    const double rate = m_simulator->rate();
    m_rateLabel->setText(rate > 0.0 ? QStringLiteral("%1 件/秒").arg(rate) : QStringLiteral("全速"));
    form->addRow(QStringLiteral("运行模式:"), m_modeLabel);
    form->addRow(QStringLiteral("当前产品:"), m_productLabel);
    form->addRow(QStringLiteral("节拍:"), m_rateLabel);
    form->addRow(QStringLiteral("孔数:"), new QLabel(QString::number(m_simulator->holes()), statusBox));
    form->addRow(QStringLiteral("料号:"), m_materialLabel);
    layout->addWidget(statusBox);

    auto *productBox = new QGroupBox(QStringLiteral("最近产品"), pane);
    auto *productLayout = new QVBoxLayout(productBox);
    m_products = new QTableWidget(0, 8, productBox);
    m_products->setHorizontalHeaderLabels({ QStringLiteral("序号"), QStringLiteral("产品号"),
        QStringLiteral("时间"), QStringLiteral("长度"), QStringLiteral("宽度"), QStringLiteral("NG孔数"),
        QStringLiteral("外观"), QStringLiteral("面板判定") });
    m_products->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_products->verticalHeader()->setVisible(false);
    m_products->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_products->setSelectionBehavior(QAbstractItemView::SelectRows);
    productLayout->addWidget(m_products);
    layout->addWidget(productBox, 3);

    auto *logBox = new QGroupBox(QStringLiteral("产线事件"), pane);
    auto *logLayout = new QVBoxLayout(logBox);
    m_log = new QPlainTextEdit(logBox);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(1000);
    logLayout->addWidget(m_log);
    layout->addWidget(logBox, 1);

    setCentralWidget(pane);
}

void MainWindow::appendLog(const QString &text)
{
    m_log->appendPlainText(
        QStringLiteral("%1  %2").arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")), text));
}

void MainWindow::updateCounts()
{
    const int total = m_tally->products();
    const double yield = total > 0 ? 100.0 * m_tally->ok() / total : 0.0;
    m_countLabel->setText(QStringLiteral("产品 %1   OK %2   NG %3   良率 %4%")
                              .arg(total)
                              .arg(m_tally->ok())
                              .arg(m_tally->ng())
                              .arg(yield, 0, 'f', 1));
}

void MainWindow::onProductStarted(int index, int productId)
{
    m_productLabel->setText(QStringLiteral("#%1 (pid %2)").arg(index + 1).arg(productId));
}

void MainWindow::onProductFinished(int index, bool expectedOk)
{
    constexpr int kMaxRows = 200;
    const LineSimulator::ProductSummary &product = m_simulator->lastProduct();
    const QString verdict = m_tally->lastVerdict();

    m_products->insertRow(0);
    const auto cell = [this](int column, const QString &text, bool isBad) {
        auto *item = new QTableWidgetItem(text);
        item->setTextAlignment(Qt::AlignCenter);
        if (isBad)
            item->setForeground(QColor(QStringLiteral("#F56C6C")));
        m_products->setItem(0, column, item);
    };
    cell(0, QString::number(index + 1), false);
    cell(1, QString::number(product.productId), false);
    cell(2, QTime::currentTime().toString(QStringLiteral("hh:mm:ss")), false);
    cell(3, QString::number(product.length, 'f', 3),
        !LineSimulator::within(product.length, LineSimulator::kLength));
    cell(4, QString::number(product.width, 'f', 3),
        !LineSimulator::within(product.width, LineSimulator::kWidth));
    cell(5, QString::number(product.badHoles), product.badHoles > 0);
    cell(6, product.appearanceOk ? QStringLiteral("OK") : QStringLiteral("NG"), !product.appearanceOk);
    cell(7, verdict.isEmpty() ? QStringLiteral("?") : verdict, verdict != QLatin1String("OK"));
    if (m_products->rowCount() > kMaxRows)
        m_products->removeRow(kMaxRows);

    // The panel judges on its own; a disagreement with the line's plan is worth a note.
    if (verdict != (expectedOk ? QLatin1String("OK") : QLatin1String("NG")))
        appendLog(QStringLiteral("产品 #%1: 面板判定 %2，模拟判定 %3")
                      .arg(index + 1)
                      .arg(verdict, expectedOk ? QStringLiteral("OK") : QStringLiteral("NG")));
    else if (!expectedOk)
        appendLog(QStringLiteral("产品 #%1 (pid %2): NG").arg(index + 1).arg(product.productId));
}

void MainWindow::onMaterialNumberChanged(const QString &text)
{
    m_materialLabel->setText(text.isEmpty() ? QStringLiteral("-") : text);
}

void MainWindow::togglePause(bool paused)
{
    if (paused)
        m_simulator->pause();
    else
        m_simulator->resume();
    m_pauseAction->setText(paused ? QStringLiteral("继续产线") : QStringLiteral("暂停产线"));
    appendLog(paused ? QStringLiteral("产线暂停") : QStringLiteral("产线继续"));
}
