#pragma once

#include "CurMode.h"
#include "ImageProcessData.h"
#include "McuEvent.h"
#include "ProductProcessData.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QVector>

// The host's system interface. The host raises these signals; plugins listen through a
// SysInterface wrapper and call the virtual operations directly.
class SysInterfaceImpl : public QObject
{
    Q_OBJECT
public:
    explicit SysInterfaceImpl(QObject *parent = nullptr)
        : QObject(parent)
    {
    }
    ~SysInterfaceImpl() override = default;

    virtual void setMaterialNumber(const QString &text) { Q_UNUSED(text); }
    virtual QString basePath() { return QString(); }
    virtual QString dataPath() { return QString(); }
    virtual QString configPath() { return QString(); }
    virtual QVariantMap queryPanelData(QString panelName, QString section)
    {
        Q_UNUSED(panelName);
        Q_UNUSED(section);
        return QVariantMap();
    }

signals:
    void curRunningModeChanged(CurMode mode);
    void userParamChanged(QString var);
    void inputIOTriggered(int port);
    void outputIOChange(int port, bool highLevel);
    void cameraReady(int camera, bool ready);
    void captureReady(int camera, int product, int cycle);
    void captureFinished(int camera, int product, int cycle);
    void cycleResultsUpdated(ImageProcessData data);
    void cameraDetectionCompleted(ProductProcessData data);
    void productDetectionCompleted(ProductProcessData data);
    void updateProductDataValues(int msTodayCount, int msTodayOKCount, QString customYieldValue,
        int pipelineTypes, QVector<QMap<QString, QVariant>> seriesList,
        QVector<QPair<QString, int>> realMssort);
    void updateProductDataTitles(QList<QString> productDataTitles);
    void reportDataUpdated(
        QVector<QMap<QString, QVariant>> productDatas, QList<QString> productDataTitles, QString rstr);
    void cameraStatUpdated(QVariantMap stats);
    void productStatUpdated(QVariantMap stats);
    void resetCountData();
    void parserRecvData(QString peerName, QByteArray data);
    void scanCode(QString code);
    void signal_SaveImageCompleted(QString code, QString fileName, QString filePath);
    void Signal_TaskManagerReqResetCounter(int resetID);
    void Signal_McEvent(McuEvent mcuevent);
};
