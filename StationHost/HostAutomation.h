#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class LineSimulator;
class QAbstractItemModel;
class QDialog;
class QLabel;
class QMainWindow;
class QTableView;

// Scripted operator actions: grab the window in mid-cycle, press the panel's report button,
// click a defective product in the report and grab the report.
class HostAutomation : public QObject
{
    Q_OBJECT
public:
    HostAutomation(QMainWindow *window, QWidget *panel, LineSimulator *simulator, QObject *parent = nullptr);

    void setPanelShot(const QString &file) { m_panelShot = file; }
    void setReportShot(const QString &file) { m_reportShot = file; }
    void setOpenReport(bool open) { m_openReport = open; }

    // Call once the options are set.
    void arm();
    bool isDone() const { return m_pending == 0; }

signals:
    void done();

private:
    void onHoleEmitted(int index, int hole);
    void onProductFinished(int index, bool expectedOk);
    void pressReportButton();
    void pollReport();
    static QDialog *findReport();
    void widenRange(QLabel *total);
    static int mostDefectiveRow(const QAbstractItemModel *model);
    static void clickRow(QTableView *view, int row);
    void grabReport();
    void finishTask();
    int triggerProduct() const;

    QMainWindow *m_window;
    QWidget *m_panel;
    LineSimulator *m_simulator;
    QString m_panelShot;
    QString m_reportShot;
    bool m_openReport = false;
    bool m_reportPressed = false;
    bool m_rangeWidened = false;
    int m_pending = 0;
    int m_pollsLeft = 0;
    QTimer m_poll;
    QPointer<QDialog> m_report;
};
