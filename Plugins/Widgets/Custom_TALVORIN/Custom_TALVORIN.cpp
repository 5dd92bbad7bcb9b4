#include "Custom_TALVORIN.h"

#include "CurrentProductWorkbookWriter.h"
#include "FileReveal.h"
#include "HistoryKeeper.h"
#include "HistorySwitch.h"
#include "ReportTable.h"
#include "SaveFilePrompt.h"

#include <SysInterface.h>

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char *const kIdleStyle = "color:white;background:#303133";
const char *const kOkStyle = "QLabel{color:white;background:#67C23A;}";
const char *const kNgStyle = "QLabel{color:white;background:#F56C6C;}";
const char *const kOkColor = "#67C23A";
const char *const kNgColor = "#F56C6C";
const char *const kLargestColor = "#409EFF";
const char *const kSmallestColor = "#E6A23C";

} // namespace

Custom_TALVORIN::Custom_TALVORIN()
    : PluginWidget(nullptr)
{
}

Custom_TALVORIN::~Custom_TALVORIN()
{
    delete m_sysInterface;
}

PluginWidget *Custom_TALVORIN::create(SysInterfaceImpl *host)
{
    auto *panel = new Custom_TALVORIN;
    panel->m_sysInterface = new SysInterface(host);
    panel->initUi();
    return panel;
}

QString Custom_TALVORIN::pluginId() const
{
    return QStringLiteral("com.kvt.quorvex.Custom_TALVORIN");
}

QString Custom_TALVORIN::displayName() const
{
    return QStringLiteral("TALVORIN-V2.2");
}

QString Custom_TALVORIN::category() const
{
    return QStringLiteral("定制");
}

void Custom_TALVORIN::initUi()
{
    m_orderEdit = new QLineEdit;
    m_orderEdit->setPlaceholderText(QStringLiteral("Order number"));
    m_orderEdit->setMinimumHeight(50);

    m_materialEdit = new QLineEdit;
    m_materialEdit->setPlaceholderText(QStringLiteral("Material number"));
    m_materialEdit->setMinimumHeight(50);

    m_resultLabel = new QLabel(QStringLiteral("Result"));
    m_resultLabel->setMinimumHeight(50);
    m_resultLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_resultLabel->setStyleSheet(QLatin1String(kIdleStyle));

    m_valueList = new QListWidget;

    m_chuteScaleEdit = new QLineEdit;
    m_chuteScaleEdit->setPlaceholderText(QStringLiteral("滑槽刻度"));
    m_chuteScaleEdit->setToolTip(QStringLiteral("滑槽刻度"));

    m_resultTable = new QTableWidget(0, 3);
    m_resultTable->setHorizontalHeaderLabels(
        { QStringLiteral("圆径"), QStringLiteral("结果"), QStringLiteral("位置(cm)") });
    m_resultTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    auto *reportButton = new QPushButton(QStringLiteral("报表查询"));
    auto *exportButton = new QPushButton(QStringLiteral("导出当前产品尺寸数据"));

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(reportButton);
    buttonRow->addWidget(exportButton);
    buttonRow->addStretch(0);

    auto *layout = new QVBoxLayout;
    layout->addWidget(m_materialEdit);
    layout->addWidget(m_orderEdit);
    layout->addWidget(m_chuteScaleEdit);
    layout->addWidget(m_resultLabel);
    layout->addWidget(m_valueList);
    layout->addWidget(m_resultTable, 1);
    layout->addLayout(buttonRow);
    setLayout(layout);

    connect(m_sysInterface, &SysInterface::cameraDetectionCompleted, this,
        &Custom_TALVORIN::onCameraDetectionCompleted);
    connect(m_sysInterface, &SysInterface::curRunningModeChanged, this,
        &Custom_TALVORIN::onCurRunningModeChanged);
    connect(reportButton, &QAbstractButton::clicked, this, &Custom_TALVORIN::onQuery);
    connect(exportButton, &QAbstractButton::clicked, this, &Custom_TALVORIN::onExport);
    connect(m_sysInterface, &SysInterface::Signal_McEvent, this, &Custom_TALVORIN::onMcuEvent);
    connect(
        m_materialEdit, &QLineEdit::textChanged, m_materialEdit,
        [this](const QString &text) { m_sysInterface->impl->setMaterialNumber(text); }, Qt::DirectConnection);

    initDB();
}

void Custom_TALVORIN::serialize(QJsonObject &settings)
{
    if (!m_chuteScaleEdit)
        return;
    QJsonObject own;
    own.insert(QStringLiteral("hckd"), m_chuteScaleEdit->text());
    if (!m_materialEdit->text().isEmpty())
        own.insert(QStringLiteral("MaterialBarcode"), m_materialEdit->text());
    if (!m_orderEdit->text().isEmpty())
        own.insert(QStringLiteral("OrderBarcode"), m_orderEdit->text());
    // Written back only when the host set them, as they came.
    if (!m_historyValue.isUndefined())
        own.insert(QStringLiteral("History"), m_historyValue);
    if (!m_keepDaysValue.isUndefined())
        own.insert(QStringLiteral("KeepDays"), m_keepDaysValue);
    settings.insert(QStringLiteral("Custom_TALVORIN"), own);
}

void Custom_TALVORIN::deserialize(QJsonObject &settings)
{
    if (!m_chuteScaleEdit || !settings.contains(QStringLiteral("Custom_TALVORIN")))
        return;
    const QJsonObject own = settings.value(QStringLiteral("Custom_TALVORIN")).toObject();
    if (own.contains(QStringLiteral("hckd")))
        m_chuteScaleEdit->setText(own.value(QStringLiteral("hckd")).toString());
    if (own.contains(QStringLiteral("MaterialBarcode")))
        m_materialEdit->setText(own.value(QStringLiteral("MaterialBarcode")).toString());
    if (own.contains(QStringLiteral("OrderBarcode")))
        m_orderEdit->setText(own.value(QStringLiteral("OrderBarcode")).toString());
    if (own.contains(QStringLiteral("History")))
        m_historyValue = own.value(QStringLiteral("History"));
    if (own.contains(QStringLiteral("KeepDays")))
        m_keepDaysValue = own.value(QStringLiteral("KeepDays"));
    applyHistory();
}

// "History": "1" switches the year-scale history on: the index beside the product table, the
// report's barcode search, retention after "KeepDays" whole days, the disk-space watch.
void Custom_TALVORIN::applyHistory()
{
    const bool on = m_historyValue.toString() == QLatin1String("1");
    bool daysOk = false;
    const int keepDays = m_keepDaysValue.toString().trimmed().toInt(&daysOk);
    if (!m_keepDaysValue.isUndefined() && (!daysOk || keepDays < 0))
        qCritical() << "KeepDays" << m_keepDaysValue
                    << "is not a number of whole days; every product is kept";
    const int retention = on && daysOk && keepDays >= 0 ? keepDays : -1;
    HistorySwitch::set(m_dbPath, on);
    m_store.setLogFoldedElsewhere(on);
    if (on == bool(m_historyOwner) && retention == m_historyRetention)
        return;
    // The keeper lives on a thread of its own and stops with its owner.
    delete m_historyOwner;
    m_historyOwner = nullptr;
    m_historyRetention = retention;
    if (!on)
        return;
    m_historyOwner = new QObject(this);
    HistoryKeeper::start(m_dbPath, retention, m_historyOwner);
}

void Custom_TALVORIN::initDB()
{
    SysInterfaceImpl *host = m_sysInterface->impl;
    const QDir base(host->basePath());
    const QString folder = base.filePath(host->dataPath() + QStringLiteral("/DectDB"));
    m_dbPath = QDir(folder).filePath(QStringLiteral("TLV.db"));
    m_store.open(m_dbPath);
}

bool Custom_TALVORIN::updateProductData()
{
    const bool stored = m_store.store(m_product.row(m_barcode));
    // Only once the product is in the file: its id starts any limits that changed.
    if (stored && m_historyOwner) {
        QSqlDatabase db = m_store.database();
        m_limits.record(db, m_product.limits());
    }
    return stored;
}

void Custom_TALVORIN::onCameraDetectionCompleted(const ProductProcessData &detection)
{
    if (!m_resultTable || detection.results.size() != 1)
        return;
    m_product.add(detection.results.constFirst());
    showNewResults();
}

// The list and the table show the product's sizes and holes in order; only new ones are added.
void Custom_TALVORIN::showNewResults()
{
    const QStringList &lines = m_product.sizeLines();
    for (int i = m_valueList->count(); i < lines.size(); ++i)
        m_valueList->addItem(lines.at(i));

    const QList<HoleEntry> &holes = m_product.holes();
    const int shown = m_resultTable->rowCount();
    for (int row = shown; row < holes.size(); ++row) {
        const bool ok = holes.at(row).status;
        m_resultTable->insertRow(row);
        m_resultTable->setItem(row, 0, new QTableWidgetItem(m_product.holeValueText(row)));
        auto *result = new QTableWidgetItem(ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        result->setForeground(QBrush(QColor(QLatin1String(ok ? kOkColor : kNgColor))));
        m_resultTable->setItem(row, 1, result);
        m_resultTable->setItem(row, 2, new QTableWidgetItem(m_product.holePositionText(row)));
    }
    if (holes.size() > shown)
        m_resultTable->scrollToBottom();
}

// By value, as the host's signal carries it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void Custom_TALVORIN::onMcuEvent(McuEvent mcuevent)
{
    qDebug() << mcuevent.eventText;
    if (!m_resultTable)
        return;
    if (mcuevent.eventText.contains(QStringLiteral("CamLenStart")))
        startCycle();
    else if (mcuevent.eventText.contains(QStringLiteral("CamLenEnd")))
        endCycle();
}

void Custom_TALVORIN::startCycle()
{
    m_product.start();
    m_valueList->clear();
    m_resultTable->clearContents();
    m_resultTable->setRowCount(0);
    m_resultLabel->setText(QStringLiteral("检测中..."));
    m_resultLabel->setStyleSheet(QLatin1String(kIdleStyle));
}

void Custom_TALVORIN::endCycle()
{
    m_barcode = m_materialEdit->text() + QLatin1Char(',') + m_orderEdit->text();
    updateProductData();

    const auto paint = [this](int row, const char *color) {
        if (QTableWidgetItem *cell = row >= 0 ? m_resultTable->item(row, 0) : nullptr)
            cell->setForeground(QBrush(QColor(QLatin1String(color))));
    };
    paint(m_product.largestHole(), kLargestColor);
    paint(m_product.smallestHole(), kSmallestColor);

    const bool ok = m_product.isOk();
    m_resultLabel->setStyleSheet(QLatin1String(ok ? kOkStyle : kNgStyle));
    m_resultLabel->setText(ok ? QStringLiteral("OK") : QStringLiteral("NG"));
}

void Custom_TALVORIN::onCurRunningModeChanged(CurMode tomode)
{
    if (tomode != CurMode_Run || !m_sysInterface)
        return;
    const QVariantMap strings
        = m_sysInterface->impl->queryPanelData(QStringLiteral("VantrelPanel"), QStringLiteral("strings"));
    const QString value = strings.value(QStringLiteral("VpKeys::strCamCbPos")).toString();
    m_product.setCameraPositions(value);
}

void Custom_TALVORIN::onQuery()
{
    QWidget *anchor = nullptr;
    const QWidgetList topLevels = QApplication::topLevelWidgets();
    for (QWidget *widget : topLevels) {
        const char *className = widget->metaObject()->className();
        if (qstrcmp(className, "MainWindow") == 0 || qstrcmp(className, "MainView") == 0)
            anchor = widget;
    }
    if (!anchor) {
        // A host without a main window of its own: centre the report over the panel's window.
        qInfo() << "No MainWindow among the top-level widgets; the report opens over the panel's window";
        anchor = window();
    }

    const int height = anchor->height();
    auto *dialog = new ReportTable(m_dbPath, anchor);
    dialog->setFixedSize(1350, 920);
    const QPoint global = mapToGlobal(pos());
    dialog->move(global.x() - 1350, (height - 920) / 2);
    dialog->show();
    // Deleted once closed (exec() does it on return): a host opening the report every shift
    // would otherwise keep each dialog's thread and records for its whole life.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
}

void Custom_TALVORIN::onExport()
{
    const QString fileName = SaveFilePrompt::getSaveFileName(this, tr("Save File"), tr("xlsx (*.xlsx)"));
    if (fileName.isEmpty())
        return;
    CurrentProductWorkbookWriter::write(fileName, m_product.holes(), m_product.sizeLines());
    FileReveal::reveal(fileName);
}
