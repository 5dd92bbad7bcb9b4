#pragma once

#include "CapabilityStudy.h"
#include "DefectPareto.h"
#include "ProductInfo.h"

#include <QDialog>
#include <QVector>

#include <memory>

class CapabilityTableModel;
class QLabel;
class QPushButton;
class QTableView;
class QThread;
namespace QtCharts {
class QChart;
}

// The capability of the report's current range: the table of every characteristic, the
// individuals chart and the histogram of the selected one, the Pareto of the range's defect
// causes, and the export of the table. The figures are worked out on a thread of its own from the
// products the report has loaded and the limits kept in the file; the window shows them when
// they are ready.
class CapabilityView : public QDialog
{
    Q_OBJECT

public:
    CapabilityView(const QString &dbPath, QVector<std::shared_ptr<tlv::ProductInfo>> products,
        QWidget *parent = nullptr);
    // Waits for the figures if they are still being worked out.
    ~CapabilityView() override;

    bool isReady() const { return m_ready; }
    CapabilityTableModel *model() const { return m_model; }

signals:
    void ready();

private:
    struct Result
    {
        QVector<CharacteristicCapability> rows;
        QVector<DefectPareto::Cause> causes;
        QString limitsError;
        int products = 0;
        int fromTexts = 0; // products whose holes were studied from their records' 6-digit texts
    };

    void showResult();
    void showCharacteristic(int row);
    void exportWorkbook();

    std::shared_ptr<Result> m_result;
    QThread *m_worker = nullptr;
    bool m_ready = false;
    CapabilityTableModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_export = nullptr;
    QtCharts::QChart *m_individuals = nullptr;
    QtCharts::QChart *m_histogram = nullptr;
    QtCharts::QChart *m_pareto = nullptr;
};
