#pragma once

#include <QObject>

class QWidget;

// Lets a frameless window be dragged by a band at its top.
class QFrameHelper : public QObject
{
    Q_OBJECT
public:
    explicit QFrameHelper(QObject *parent = nullptr);
    ~QFrameHelper() override;

    void activateOn(QWidget *widget);
    void setTitleHeight(unsigned int height);
    void setWidgetMovable(bool movable);
    void setWidgetResizable(bool resizable);
};
