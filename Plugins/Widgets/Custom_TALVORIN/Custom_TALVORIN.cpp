#include "Custom_TALVORIN.h"

#include "CurrentProductWorkbookWriter.h"
#include "FileReveal.h"
#include "ProductRowCodec.h"
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

#include <cmath>

namespace {

const char *const kIdleStyle = "color:white;background:#303133";
const char *const kOkStyle = "QLabel{color:white;background:#67C23A;}";
const char *const kNgStyle = "QLabel{color:white;background:#F56C6C;}";
const char *const kOkColor = "#67C23A";
const char *const kNgColor = "#F56C6C";
const char *const kLargestColor = "#409EFF";
const char *const kSmallestColor = "#E6A23C";

struct Judged
{
    double value;
    bool ok;
};

// Inclusive limits; any NaN fails both comparisons and so is NG.
Judged judge(const MeasureItem &item)
{
    const double value = item.values.value(QStringLiteral("MeasureResults")).toDouble();
    const double up = item.values.value(QStringLiteral("UpTolerance")).toDouble();
    const double low = item.values.value(QStringLiteral("LowTolerance")).toDouble();
    return { value, value >= low && up >= value };
}

} // namespace

Custom_TALVORIN::Custom_TALVORIN() : PluginWidget(nullptr) {}

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
}

void Custom_TALVORIN::initDB()
{
    SysInterfaceImpl *host = m_sysInterface->impl;
    const QDir base(host->basePath());
    const QString folder = base.filePath(host->dataPath() + QStringLiteral("/DectDB"));
    m_dbPath = QDir(folder).filePath(QStringLiteral("TLV.db"));
    m_store.open(m_dbPath);
    m_db = m_store.database();
}

bool Custom_TALVORIN::updateProductData()
{
    ProductRow row;
    row.uptime = ProductRowCodec::currentUptimeText();
    row.pid = m_productId;
    row.barcode = m_barcode;
    row.psize = ProductRowCodec::psizeText(m_sizeValues);
    row.diameter = ProductRowCodec::diameterJson(m_diameterResults);
    row.appearance = ProductRowCodec::appearanceJson(m_appearanceResults);
    row.status = m_status;
    return m_store.store(row);
}

void Custom_TALVORIN::onCameraDetectionCompleted(const ProductProcessData &data)
{
    if (!m_resultTable || data.results.size() != 1)
        return;
    const CameraResult &entry = data.results.constFirst();
    switch (entry.kind) {
    case 0:
        showSizeGroup(entry);
        break;
    case 1:
        showHole(entry);
        break;
    case 2:
        takeAppearance(entry);
        break;
    default:
        break;
    }
}

void Custom_TALVORIN::showSizeGroup(const CameraResult &entry)
{
    for (const MeasureItem &item : entry.items) {
        if (!item.name.contains(QStringLiteral("TALVORIN")) && !item.name.contains(QStringLiteral("宽度")))
            continue;
        const Judged judged = judge(item);
        m_productOk = m_productOk && judged.ok;
        m_sizeValues.insert(item.name, judged.value);
        m_valueList->addItem(QStringLiteral("%1:\t%2").arg(item.name).arg(judged.value, 0, 'g', 6));
    }
}

void Custom_TALVORIN::showHole(const CameraResult &entry)
{
    const MeasureItem *hole = nullptr;
    for (const MeasureItem &item : entry.items) {
        if (item.name.contains(QStringLiteral("圆径"))) {
            hole = &item;
            break;
        }
    }
    if (!hole)
        return;

    const Judged judged = judge(*hole);
    m_productOk = m_productOk && judged.ok;

    const int row = m_resultTable->rowCount();
    const QString positionText = row < m_camPositions.size() ? m_camPositions.at(row) : QStringLiteral("null");
    double position = -1.0;
    if (positionText != QLatin1String("null")) {
        position = positionText.toDouble();
        if (position > 0.0)
            position = (position - 200.0) * 0.1;
    }

    m_resultTable->insertRow(row);
    m_resultTable->setItem(row, 0, new QTableWidgetItem(QString::number(judged.value, 'f', 5)));
    auto *result = new QTableWidgetItem(judged.ok ? QStringLiteral("OK") : QStringLiteral("NG"));
    result->setForeground(QBrush(QColor(QLatin1String(judged.ok ? kOkColor : kNgColor))));
    m_resultTable->setItem(row, 1, result);
    m_resultTable->setItem(row, 2,
                           new QTableWidgetItem(position > 0.0 ? QString::number(position, 'g', 6) : positionText));
    m_resultTable->scrollToBottom();

    if (!judged.ok)
        m_status &= 2;
    m_diameterResults.append(HoleEntry { row, judged.ok, judged.value, static_cast<float>(position) });
}

void Custom_TALVORIN::takeAppearance(const CameraResult &entry)
{
    m_productId = entry.productId;
    const bool ok = entry.appearanceOk;
    if (!ok)
        m_status &= 1;
    m_productOk = m_productOk && ok;
    m_appearanceResults.append(ApeEntry { m_appearanceResults.size(), ok, QStringList(), 0.0f });
}

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
    m_status = 3;
    m_sizeValues.clear();
    m_diameterResults.clear();
    m_appearanceResults.clear();
    m_valueList->clear();
    m_resultTable->clearContents();
    m_resultTable->setRowCount(0);
    m_resultLabel->setText(QStringLiteral("检测中..."));
    m_resultLabel->setStyleSheet(QLatin1String(kIdleStyle));
    m_productOk = true;
}

void Custom_TALVORIN::endCycle()
{
    m_barcode = m_materialEdit->text() + QLatin1Char(',') + m_orderEdit->text();
    updateProductData();

    int largest = -1;
    int smallest = -1;
    double maxValue = -9999.0;
    double minValue = 99999.0;
    for (const HoleEntry &hole : qAsConst(m_diameterResults)) {
        if (hole.value >= maxValue) {
            maxValue = hole.value;
            largest = hole.idx;
        }
        if (hole.value <= minValue) {
            minValue = hole.value;
            smallest = hole.idx;
        }
    }
    const auto paint = [this](int row, const char *color) {
        if (QTableWidgetItem *cell = m_resultTable->item(row, 0))
            cell->setForeground(QBrush(QColor(QLatin1String(color))));
    };
    if (largest >= 0)
        paint(largest, kLargestColor);
    if (smallest >= 0)
        paint(smallest, kSmallestColor);

    if (m_productOk) {
        m_resultLabel->setStyleSheet(QLatin1String(kOkStyle));
        m_resultLabel->setText(QStringLiteral("OK"));
    } else {
        m_resultLabel->setStyleSheet(QLatin1String(kNgStyle));
        m_resultLabel->setText(QStringLiteral("NG"));
    }
}

void Custom_TALVORIN::onCurRunningModeChanged(CurMode tomode)
{
    if (tomode != CurMode_Run || !m_sysInterface)
        return;
    const QVariantMap strings
        = m_sysInterface->impl->queryPanelData(QStringLiteral("VantrelPanel"), QStringLiteral("strings"));
    const QString value = strings.value(QStringLiteral("VpKeys::strCamCbPos")).toString();
    m_camPositions.clear();
    const QStringList entries = value.split(QLatin1Char(';'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &entry : entries)
        m_camPositions.append(entry.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive).constFirst());
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
    dialog->exec();
}

void Custom_TALVORIN::onExport()
{
    const QString fileName = SaveFilePrompt::getSaveFileName(this, tr("Save File"), tr("xlsx (*.xlsx)"));
    if (fileName.isEmpty())
        return;
    QStringList lines;
    lines.reserve(m_valueList->count());
    for (int i = 0; i < m_valueList->count(); ++i)
        lines << m_valueList->item(i)->text();
    CurrentProductWorkbookWriter::write(fileName, m_diameterResults, lines);
    FileReveal::reveal(fileName);
}
