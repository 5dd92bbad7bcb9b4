#include "HostAutomation.h"

#include "LineSimulator.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTimeEdit>
#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>

namespace {
// The panel is grabbed while this product is being measured, after this share of its holes.
constexpr int kShotProduct = 8;
constexpr double kShotHoleShare = 0.6;
constexpr int kPollMs = 200;
constexpr int kPollLimit = 150; // 30 s for the report's query
constexpr int kChartSettleMs = 2500; // chart animations
constexpr int kReportDays = 7; // the report shows the last week, not just today

bool saveImage(const QPixmap &pixmap, const QString &file)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (pixmap.isNull() || !pixmap.save(file)) {
        qCritical().noquote() << "cannot save image" << file;
        return false;
    }
    qInfo().noquote() << "saved" << file << pixmap.width() << "x" << pixmap.height();
    return true;
}
} // namespace

HostAutomation::HostAutomation(QMainWindow *window, QWidget *panel, LineSimulator *simulator, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_panel(panel)
    , m_simulator(simulator)
{
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &HostAutomation::pollReport);
}

void HostAutomation::arm()
{
    m_pending = (m_panelShot.isEmpty() ? 0 : 1) + (m_reportShot.isEmpty() ? 0 : 1);
    if (!m_panelShot.isEmpty())
        connect(m_simulator, &LineSimulator::holeEmitted, this, &HostAutomation::onHoleEmitted);
    if (m_openReport || !m_reportShot.isEmpty())
        connect(m_simulator, &LineSimulator::productFinished, this, &HostAutomation::onProductFinished);
}

int HostAutomation::triggerProduct() const
{
    const int limit = m_simulator->productLimit();
    return limit > 0 ? qMin(kShotProduct, limit - 1) : kShotProduct;
}

void HostAutomation::onHoleEmitted(int index, int hole)
{
    if (index != triggerProduct() || hole != int(m_simulator->holes() * kShotHoleShare))
        return;
    disconnect(m_simulator, &LineSimulator::holeEmitted, this, &HostAutomation::onHoleEmitted);
    saveImage(m_window->grab(), m_panelShot);
    finishTask();
}

void HostAutomation::onProductFinished(int index, bool expectedOk)
{
    Q_UNUSED(expectedOk);
    // With a panel shot pending the report waits, so that the shot shows the panel alone.
    const int after = m_panelShot.isEmpty() ? 0 : triggerProduct();
    if (m_reportPressed || index < after)
        return;
    m_reportPressed = true;
    disconnect(m_simulator, &LineSimulator::productFinished, this, &HostAutomation::onProductFinished);
    pressReportButton();
}

void HostAutomation::pressReportButton()
{
    QPushButton *button = nullptr;
    const QList<QPushButton *> buttons = m_panel->findChildren<QPushButton *>();
    for (QPushButton *candidate : buttons) {
        if (candidate->text() == QStringLiteral("报表查询"))
            button = candidate;
    }
    if (!button) {
        qCritical() << "the panel has no report button";
        if (!m_reportShot.isEmpty())
            finishTask();
        return;
    }
    if (!m_reportShot.isEmpty()) {
        m_pollsLeft = kPollLimit;
        m_poll.start();
    }
    qInfo() << "pressing the panel's report button";
    // The report runs modally inside the click, so the click must not run inside this call.
    QTimer::singleShot(0, button, &QPushButton::click);
}

void HostAutomation::pollReport()
{
    if (--m_pollsLeft < 0) {
        m_poll.stop();
        qCritical() << "the report did not show any product in time";
        if (m_report)
            m_report->reject();
        finishTask();
        return;
    }
    if (!m_report)
        m_report = findReport();
    if (!m_report)
        return;
    auto *view = m_report->findChild<QTableView *>(QStringLiteral("tblWidProduct"));
    auto *total = m_report->findChild<QLabel *>(QStringLiteral("lbTotal"));
    if (!view || !view->model() || !total)
        return;
    const int rows = view->model()->rowCount();
    // A query is done once the total shows the full row count.
    if (total->text() != QStringLiteral("共%1条").arg(rows))
        return;
    if (!m_rangeWidened) {
        widenRange(total);
        m_rangeWidened = true;
        return;
    }
    if (rows == 0)
        return;
    m_poll.stop();
    const int row = mostDefectiveRow(view->model());
    clickRow(view, row);
    qInfo().noquote() << "report: clicked product row" << row + 1 << "of" << rows;
    QTimer::singleShot(kChartSettleMs, this, &HostAutomation::grabReport);
}

QDialog *HostAutomation::findReport()
{
    QDialog *report = nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (qstrcmp(w->metaObject()->className(), "ReportTable") == 0 && w->isVisible())
            report = qobject_cast<QDialog *>(w);
    }
    return report;
}

void HostAutomation::widenRange(QLabel *total)
{
    // As an operator would: widen the range to the last week and search again.
    auto *start = m_report->findChild<QDateTimeEdit *>(QStringLiteral("dateTimeStart"));
    auto *find = m_report->findChild<QPushButton *>(QStringLiteral("btnFind"));
    if (!start || !find) {
        qWarning() << "report: no date range to widen";
        return;
    }
    start->setDateTime(QDateTime(QDate::currentDate().addDays(-kReportDays), QTime(0, 0)));
    // The total keeps its old text until the new query is complete.
    total->clear();
    find->click();
}

int HostAutomation::mostDefectiveRow(const QAbstractItemModel *model)
{
    // Prefer a product with both kinds of defect, then one with bad holes, then any NG.
    int best = 0;
    int bestScore = -1;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString category = model->index(row, 4).data().toString();
        const bool sizeNg = category.contains(QStringLiteral("尺寸"));
        const int score = sizeNg && category.contains(QStringLiteral("外观")) ? 3
            : sizeNg                                                          ? 2
            : !category.isEmpty()                                             ? 1
                                                                              : 0;
        if (score > bestScore) {
            best = row;
            bestScore = score;
        }
    }
    return best;
}

void HostAutomation::clickRow(QTableView *view, int row)
{
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &press);
    QApplication::sendEvent(view->viewport(), &release);
}

void HostAutomation::grabReport()
{
    if (m_report) {
        saveImage(m_report->grab(), m_reportShot);
        m_report->reject();
    }
    finishTask();
}

void HostAutomation::finishTask()
{
    if (m_pending > 0 && --m_pending == 0)
        emit done();
}
