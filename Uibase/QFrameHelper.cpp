#include "QFrameHelper.h"

QFrameHelper::QFrameHelper(QObject *parent) : QObject(parent) {}
QFrameHelper::~QFrameHelper() = default;
void QFrameHelper::activateOn(QWidget *) {}
void QFrameHelper::setTitleHeight(unsigned int) {}
void QFrameHelper::setWidgetMovable(bool) {}
void QFrameHelper::setWidgetResizable(bool) {}
