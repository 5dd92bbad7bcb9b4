#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"
#include "ProductInfo.h"
#include "ReportWorkbookWriter.h"

#include <QDialog>
#include <QList>
#include <QModelIndex>
#include <QPoint>
#include <QString>
#include <QThread>
#include <QVector>

#include <memory>

class FindSequence;
class ReleaseHold;
class RepaintThrottle;

namespace Ui {
class ReportTableClass;
}
namespace QtCharts {
class QChart;
}
class ReportTableModel;
class ReportItemModel;
class QLineEdit;
class QMouseEvent;

// Report window: finds the stored products of a time range through its own worker thread,
// lists them with an OK/NG pie, shows one product's holes with a defect bar chart, exports.
class ReportTable : public QDialog
{
    Q_OBJECT

public:
    ReportTable(const QString &dbPath, QWidget *parent = nullptr);
    ~ReportTable() override;

signals:
    void Signal_FindData(QString tmStart, QString tmEnd, QString key);
    // With the history switched on for the file: every find, with the search field's text.
    void Signal_FindHistory(QString tmStart, QString tmEnd, QString text);

private slots:
    void Slot_BtnFindClicked();
    void Slot_BtnExportClicked();
    void Slot_FindResult(bool bCompleted, QList<std::shared_ptr<tlv::ProductInfo>> vtDatas);
    void Slot_TableViewItemClicked(QModelIndex index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void initView();
    void addSearchField();
    void initConnect();
    void updatePieChart();
    void updateBarChart(const QList<std::shared_ptr<tlv::HoleInfo>> &holes,
        const QList<std::shared_ptr<tlv::ApeInfo>> &findings);
    ReportWorkbookWriter::Products exportList() const;
    void releaseRecords();
    void openCapability();

    Ui::ReportTableClass *ui;
    QPoint m_dragOffset;
    bool m_dragging = false;
    QString m_dbPath;
    QThread m_thread;
    QVector<QMetaObject::Connection> m_workerConnections;
    ReportTableModel *m_tableModel = nullptr;
    ReportItemModel *m_itemModel = nullptr;
    QtCharts::QChart *m_pieChart = nullptr;
    QtCharts::QChart *m_barChart = nullptr;
    std::shared_ptr<FindSequence> m_findSequence;
    RepaintThrottle *m_productRepaint = nullptr;
    ReleaseHold *m_releaseHold = nullptr;
    bool m_history = false;
    QLineEdit *m_search = nullptr;
};
