#pragma once

#include "SysInterfaceImpl.h"

#include <QObject>

// Signal hub a plugin holds over the host's SysInterfaceImpl: re-emits the host's signals
// (resetCountData goes the other way). It never owns the implementation.
class SysInterface : public QObject
{
    Q_OBJECT
public:
    explicit SysInterface(SysInterfaceImpl *impl);
    ~SysInterface() override = default;

    SysInterfaceImpl *impl;

    // Registers the SDK's record types, so that signals carrying them can be queued.
    static void registerMetaTypes();

signals:
    void curRunningModeChanged(CurMode mode);
    void userParamChanged(QString var);
    void inputIOTriggered(int port);
    void outputIOChange(int port, bool highLevel);
    void cameraReady(int camera, bool ready);
    void captureReady(int camera);
    void captureFinished(int camera);
    void cycleResultsUpdated(ImageProcessData data);
    void cameraDetectionCompleted(ProductProcessData data);
    void productDetectionCompleted(ProductProcessData data);
    void updateProductDataValues(int msTodayCount, int msTodayOKCount, QString customYieldValue,
        int pipelineTypes, QVector<QMap<QString, QVariant>> seriesList,
        QVector<QPair<QString, int>> realMssort);
    void productJudgeSettingsUpdated(QList<QString> productDataTitles);
    void reportDataUpdated(
        QVector<QMap<QString, QVariant>> productDatas, QList<QString> productDataTitles, QString rstr);
    void cameraStatUpdated(QVariantMap stats);
    void productStatUpdated(QVariantMap stats);
    void resetCountData();
    void parserRecvData(QString peerName, QByteArray data);
    void scanCode(QString code);
    void signal_SaveImageCompleted(QString code, QString fileName, QString filePath);
    void Signal_TaskManagerReqResetCounter(int resetID);
    void Signal_McEvent(McuEvent mcevent);
};
