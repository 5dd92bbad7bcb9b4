#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Lets a frameless window be dragged by a band at its top. It only watches the events of the
// widget it is activated on and never resizes it.
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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_widget = nullptr;
    unsigned int m_titleHeight = 0;
    bool m_movable = false;
    bool m_resizable = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
};
