#pragma once

#include "LimitRecorder.h"
#include "MeasuredProduct.h"
#include "ProductStore.h"

#include <CurMode.h>
#include <McuEvent.h>
#include <PluginWidget.h>
#include <ProductProcessData.h>

#include <QJsonValue>
#include <QString>

class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class SysInterface;

// The station panel: feeds the host's results to the product being measured, shows it, stores
// the finished product as one row of the product database and opens the report.
class Custom_TALVORIN : public PluginWidget
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.kvt.quorvex.Custom_TALVORIN")
    Q_INTERFACES(PluginWidget)

public:
    Custom_TALVORIN();
    ~Custom_TALVORIN() override;

    PluginWidget *create(SysInterfaceImpl *host) override;
    QString pluginId() const override;
    QString displayName() const override;
    QString category() const override;

    void deserialize(QJsonObject &settings) override;
    void serialize(QJsonObject &settings) override;

private slots:
    void onCameraDetectionCompleted(const ProductProcessData &detection);
    void onExport();
    void onCurRunningModeChanged(CurMode tomode);
    void onQuery();
    void onMcuEvent(McuEvent mcuevent);

private:
    void initUi();
    void initDB();
    void applyHistory();
    bool updateProductData();

    void showNewResults();
    void startCycle();
    void endCycle();

    SysInterface *m_sysInterface = nullptr;
    QLineEdit *m_orderEdit = nullptr;
    QLineEdit *m_materialEdit = nullptr;
    QLineEdit *m_chuteScaleEdit = nullptr;
    QLabel *m_resultLabel = nullptr;
    QListWidget *m_valueList = nullptr;
    QTableWidget *m_resultTable = nullptr;
    QString m_barcode = QStringLiteral("");
    QString m_dbPath;
    MeasuredProduct m_product;
    ProductStore m_store;
    // The optional settings keys "History" and "KeepDays", undefined until the host sets them.
    QJsonValue m_historyValue = QJsonValue(QJsonValue::Undefined);
    QJsonValue m_keepDaysValue = QJsonValue(QJsonValue::Undefined);
    QObject *m_historyOwner = nullptr; // the history keeper's, while it runs
    int m_historyRetention = -1;
    LimitRecorder m_limits; // with the history on: the limits each product was judged against
};
