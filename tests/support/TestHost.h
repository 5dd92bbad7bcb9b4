#pragma once

#include <SysInterfaceImpl.h>

#include <QStringList>

// A host for tests: answers the panel's path and panel-data queries and records what the
// panel calls. Emit its signals to drive the panel as the inspection host would.
class TestHost : public SysInterfaceImpl
{
    Q_OBJECT
public:
    explicit TestHost(QObject *parent = nullptr);

    void setMaterialNumber(const QString &text) override { materialNumbers << text; }
    QString basePath() override { return base; }
    QString dataPath() override { return data; }
    QVariantMap queryPanelData(QString panelName, QString section) override;

    QString base;
    QString data;
    QVariantMap panelStrings;
    QStringList materialNumbers;
    QStringList panelQueries;

    // Result records as the line's cameras send them.
    static ProductProcessData sizeGroup(const QList<QPair<QString, double>> &values, double low, double up);
    static ProductProcessData hole(
        double value, double low, double up, const QString &name = QStringLiteral("圆径1"));
    static ProductProcessData appearance(int productId, bool ok);
    static McuEvent mcu(const QString &text);
};
