#pragma once

#include <QMainWindow>

class LineSimulator;
class QAction;
class QLabel;
class QPlainTextEdit;
class QTableWidget;
class StationSysInterface;
class VerdictTally;

// The host's main window. The panel sits in the right-hand side area, as on the line's
// inspection host; the report dialog opens to its left, anchored on this window's class name.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(QWidget *panel, const QString &panelTitle, StationSysInterface *host, LineSimulator *simulator,
        VerdictTally *tally, const QString &dbPath, QWidget *parent = nullptr);

    QWidget *panel() const { return m_panel; }
    void appendLog(const QString &text);

private:
    void buildLinePane();
    void updateCounts();
    void onProductStarted(int index, int productId);
    void onProductFinished(int index, bool expectedOk);
    void onMaterialNumberChanged(const QString &text);
    void togglePause(bool paused);

    QWidget *m_panel;
    StationSysInterface *m_host;
    LineSimulator *m_simulator;
    VerdictTally *m_tally;
    QString m_dbPath;

    QLabel *m_modeLabel = nullptr;
    QLabel *m_productLabel = nullptr;
    QLabel *m_rateLabel = nullptr;
    QLabel *m_materialLabel = nullptr;
    QTableWidget *m_products = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QLabel *m_countLabel = nullptr;
    QAction *m_pauseAction = nullptr;
};
