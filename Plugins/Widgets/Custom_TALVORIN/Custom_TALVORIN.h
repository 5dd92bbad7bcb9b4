#pragma once

#include "ApeEntry.h"
#include "HoleEntry.h"
#include "ProductStore.h"

#include <CurMode.h>
#include <McuEvent.h>
#include <PluginWidget.h>
#include <ProductProcessData.h>

#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class SysInterface;

// The station panel: judges every result of the product being measured, shows it, stores the
// finished product as one row of the product database and opens the report.
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
    void onCameraDetectionCompleted(const ProductProcessData &data);
    void onExport();
    void onCurRunningModeChanged(CurMode tomode);
    void onQuery();
    void onMcuEvent(McuEvent mcuevent);

private:
    void initUi();
    void initDB();
    bool updateProductData();

    void showSizeGroup(const CameraResult &entry);
    void showHole(const CameraResult &entry);
    void takeAppearance(const CameraResult &entry);
    void startCycle();
    void endCycle();

    SysInterface *m_sysInterface = nullptr;
    QLineEdit *m_orderEdit = nullptr;
    QLineEdit *m_materialEdit = nullptr;
    QLineEdit *m_chuteScaleEdit = nullptr;
    QLabel *m_resultLabel = nullptr;
    QListWidget *m_valueList = nullptr;
    QString m_barcode = QStringLiteral("");
    bool m_productOk = true;
    QMap<QString, double> m_sizeValues;
    int m_productId = 0;
    int m_status = 3;
    QTableWidget *m_resultTable = nullptr;
    QSqlDatabase m_db;
    QString m_dbPath;
    QList<HoleEntry> m_diameterResults;
    QList<ApeEntry> m_appearanceResults;
    QStringList m_camPositions;
    ProductStore m_store;
};
