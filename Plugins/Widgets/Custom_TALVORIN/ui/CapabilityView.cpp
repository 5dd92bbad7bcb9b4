#include "CapabilityView.h"

#include "CapabilityCharts.h"
#include "CapabilityTableModel.h"
#include "CapabilityWorkbookWriter.h"
#include "FileReveal.h"
#include "LimitTable.h"
#include "SaveFilePrompt.h"
#include "StoredHoleReader.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

QT_CHARTS_USE_NAMESPACE

namespace {

// A chart view in the report's manner: antialiased, the chart font.
QChart *addChart(QWidget *parent, QLayout *layout)
{
    auto *chart = new QChart();
    auto *view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFont(QFont(QStringLiteral("Arial"), 10));
    view->setMinimumSize(360, 280);
    layout->addWidget(view);
    return chart;
}

} // namespace

CapabilityView::CapabilityView(
    const QString &dbPath, QVector<std::shared_ptr<tlv::ProductInfo>> products, QWidget *parent)
    : QDialog(parent)
    , m_result(std::make_shared<Result>())
{
    setObjectName(QStringLiteral("CapabilityView"));
    setWindowTitle(QStringLiteral("过程能力"));
    setStyleSheet(
        QStringLiteral("QWidget{font: 12pt \"微软雅黑\";}\nQLabel{font-size:16px;}\n"
                       "QHeaderView::section{font-size:16px;}\n#CapabilityView{background-color: #f2f3f5;}"));
    resize(1400, 900);

    // The products go on the worker thread, and are let go of there too. The records hold the
    // hole values as 6-digit texts; the figures are worked out from the values as stored, read
    // again by id beside the panel's inserts. Started before the window is built, which it
    // overlaps; the result arrives queued, once the window is there.
    std::shared_ptr<Result> result = m_result;
    m_worker = QThread::create([result, dbPath, products]() mutable {
        QVector<KeptLimit> limits;
        QString error;
        if (!LimitTable::readFile(dbPath, limits, &error))
            result->limitsError = error;
        result->products = products.size();
        const auto stored
            = [&dbPath](const std::vector<qint64> &ids, StoredHoles &holes) {
                  QString readError;
                  if (!StoredHoleReader::read(dbPath, ids, holes, &readError))
                      qWarning().noquote()
                          << QStringLiteral("Capability reads stored hole values: %1").arg(readError);
              };
        result->rows = CapabilityStudy::run(products, std::move(limits), stored, &result->fromTexts);
        result->causes = DefectPareto::of(products);
        products = {};
    });
    connect(m_worker, &QThread::finished, this, &CapabilityView::showResult);
    m_worker->start();

    m_status = new QLabel(QStringLiteral("正在计算…"), this);
    m_export = new QPushButton(QStringLiteral("导出到表格"), this);
    m_export->setObjectName(QStringLiteral("btnExportCapability"));
    m_export->setMinimumSize(100, 32);
    m_export->setEnabled(false);
    auto *tools = new QHBoxLayout();
    tools->addWidget(m_status, 1);
    tools->addWidget(m_export);

    m_model = new CapabilityTableModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tblCapability"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto *charts = new QWidget(this);
    auto *chartRow = new QHBoxLayout(charts);
    chartRow->setContentsMargins(0, 0, 0, 0);
    m_individuals = addChart(charts, chartRow);
    m_histogram = addChart(charts, chartRow);
    m_pareto = addChart(charts, chartRow);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_table);
    splitter->addWidget(charts);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(splitter, 1);

    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) { showCharacteristic(current.row()); });
    connect(m_export, &QPushButton::clicked, this, &CapabilityView::exportWorkbook);
}

CapabilityView::~CapabilityView()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void CapabilityView::showResult()
{
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    if (!m_result->limitsError.isEmpty())
        qWarning().noquote()
            << QStringLiteral("Capability without kept limits: %1").arg(m_result->limitsError);
    QStringList changed;
    for (const CharacteristicCapability &c : qAsConst(m_result->rows)) {
        if (c.limitsChanged)
            changed << c.name;
    }
    QString status
        = QStringLiteral("共%1件产品，%2个特性").arg(m_result->products).arg(m_result->rows.size());
    if (!changed.isEmpty())
        status += QStringLiteral("；范围内限值有变更：%1").arg(changed.join(QStringLiteral("、")));
    if (m_result->fromTexts > 0)
        status += QStringLiteral("；%1件产品的孔值按记录中的6位文本计算").arg(m_result->fromTexts);
    m_status->setText(status);
    m_model->setRows(m_result->rows);
    m_table->resizeColumnsToContents();
    CapabilityCharts::pareto(m_pareto, m_result->causes);
    if (m_model->rowCount() > 0)
        m_table->selectRow(0);
    m_export->setEnabled(true);
    m_ready = true;
    emit ready();
}

void CapabilityView::showCharacteristic(int row)
{
    if (row < 0 || row >= m_model->rows().size())
        return;
    const CharacteristicCapability &c = m_model->rows().at(row);
    CapabilityCharts::individuals(m_individuals, c);
    CapabilityCharts::histogram(m_histogram, c);
}

void CapabilityView::exportWorkbook()
{
    const QString fileName = SaveFilePrompt::getSaveFileName(this, tr("Save File"), tr("xlsx (*.xlsx)"));
    if (fileName.isEmpty())
        return;
    // The workbook has logged why it could not be saved.
    CapabilityWorkbookWriter::write(fileName, m_model->rows());
    FileReveal::reveal(fileName);
}
