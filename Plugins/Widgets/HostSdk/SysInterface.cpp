#include "SysInterface.h"

void SysInterface::registerMetaTypes()
{
    qRegisterMetaType<CurMode>("CurMode");
    qRegisterMetaType<ImageProcessData>("ImageProcessData");
    qRegisterMetaType<MeasureItem>("MeasureItem");
    qRegisterMetaType<CameraResult>("CameraResult");
    qRegisterMetaType<ProductProcessData>("ProductProcessData");
    qRegisterMetaType<McuEvent>("McuEvent");
    qRegisterMetaType<QVector<QMap<QString, QVariant>>>("QVector<QMap<QString,QVariant> >");
    qRegisterMetaType<QVector<QPair<QString, int>>>("QVector<QPair<QString,int> >");
    qRegisterMetaType<QList<QString>>("QList<QString>");
}

SysInterface::SysInterface(SysInterfaceImpl *host)
    : QObject(nullptr)
    , impl(host)
{
    registerMetaTypes();
    using S = SysInterface;
    using I = SysInterfaceImpl;
    connect(host, &I::curRunningModeChanged, this, &S::curRunningModeChanged);
    connect(host, &I::userParamChanged, this, &S::userParamChanged);
    connect(host, &I::inputIOTriggered, this, &S::inputIOTriggered);
    connect(host, &I::outputIOChange, this, &S::outputIOChange);
    connect(host, &I::cameraReady, this, &S::cameraReady);
    // The host's capture signals carry product and cycle too; plugins only get the camera.
    connect(host, &I::captureReady, this, &S::captureReady);
    connect(host, &I::captureFinished, this, &S::captureFinished);
    connect(host, &I::cycleResultsUpdated, this, &S::cycleResultsUpdated);
    connect(host, &I::cameraDetectionCompleted, this, &S::cameraDetectionCompleted);
    connect(host, &I::productDetectionCompleted, this, &S::productDetectionCompleted);
    connect(host, &I::updateProductDataValues, this, &S::updateProductDataValues);
    connect(host, &I::updateProductDataTitles, this, &S::productJudgeSettingsUpdated);
    connect(host, &I::reportDataUpdated, this, &S::reportDataUpdated);
    connect(host, &I::cameraStatUpdated, this, &S::cameraStatUpdated);
    connect(host, &I::productStatUpdated, this, &S::productStatUpdated);
    // A plugin asks the host to reset its counters.
    connect(this, &S::resetCountData, impl, &I::resetCountData);
    connect(host, &I::parserRecvData, this, &S::parserRecvData);
    connect(host, &I::scanCode, this, &S::scanCode);
    connect(host, &I::signal_SaveImageCompleted, this, &S::signal_SaveImageCompleted);
    connect(host, &I::Signal_TaskManagerReqResetCounter, this, &S::Signal_TaskManagerReqResetCounter);
    connect(host, &I::Signal_McEvent, this, &S::Signal_McEvent);
}
