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

SysInterface::SysInterface(SysInterfaceImpl *impl) : QObject(nullptr), impl(impl)
{
    registerMetaTypes();
    using S = SysInterface;
    using I = SysInterfaceImpl;
    connect(impl, &I::curRunningModeChanged, this, &S::curRunningModeChanged);
    connect(impl, &I::userParamChanged, this, &S::userParamChanged);
    connect(impl, &I::inputIOTriggered, this, &S::inputIOTriggered);
    connect(impl, &I::outputIOChange, this, &S::outputIOChange);
    connect(impl, &I::cameraReady, this, &S::cameraReady);
    // The host's capture signals carry product and cycle too; plugins only get the camera.
    connect(impl, &I::captureReady, this, &S::captureReady);
    connect(impl, &I::captureFinished, this, &S::captureFinished);
    connect(impl, &I::cycleResultsUpdated, this, &S::cycleResultsUpdated);
    connect(impl, &I::cameraDetectionCompleted, this, &S::cameraDetectionCompleted);
    connect(impl, &I::productDetectionCompleted, this, &S::productDetectionCompleted);
    connect(impl, &I::updateProductDataValues, this, &S::updateProductDataValues);
    connect(impl, &I::updateProductDataTitles, this, &S::productJudgeSettingsUpdated);
    connect(impl, &I::reportDataUpdated, this, &S::reportDataUpdated);
    connect(impl, &I::cameraStatUpdated, this, &S::cameraStatUpdated);
    connect(impl, &I::productStatUpdated, this, &S::productStatUpdated);
    // A plugin asks the host to reset its counters.
    connect(this, &S::resetCountData, impl, &I::resetCountData);
    connect(impl, &I::parserRecvData, this, &S::parserRecvData);
    connect(impl, &I::scanCode, this, &S::scanCode);
    connect(impl, &I::signal_SaveImageCompleted, this, &S::signal_SaveImageCompleted);
    connect(impl, &I::Signal_TaskManagerReqResetCounter, this, &S::Signal_TaskManagerReqResetCounter);
    connect(impl, &I::Signal_McEvent, this, &S::Signal_McEvent);
}
