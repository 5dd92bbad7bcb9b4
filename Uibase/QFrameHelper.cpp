#include "QFrameHelper.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

QFrameHelper::QFrameHelper(QObject *parent)
    : QObject(parent)
{
}

QFrameHelper::~QFrameHelper()
{
    if (m_widget)
        m_widget->removeEventFilter(this);
}

void QFrameHelper::activateOn(QWidget *widget)
{
    if (m_widget == widget)
        return;
    if (m_widget) {
        m_widget->removeEventFilter(this);
        disconnect(m_widget, &QObject::destroyed, this, nullptr);
    }
    m_widget = widget;
    m_dragging = false;
    if (m_widget) {
        m_widget->installEventFilter(this);
        // The widget may die before us when it is not our parent.
        connect(m_widget, &QObject::destroyed, this, [this] {
            m_widget = nullptr;
            m_dragging = false;
        });
    }
}

void QFrameHelper::setTitleHeight(unsigned int height)
{
    m_titleHeight = height;
}

void QFrameHelper::setWidgetMovable(bool movable)
{
    m_movable = movable;
    if (!movable)
        m_dragging = false;
}

void QFrameHelper::setWidgetResizable(bool resizable)
{
    // Kept for the interface; this helper only moves windows, it never resizes them.
    m_resizable = resizable;
}

bool QFrameHelper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_widget || !m_widget)
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (m_movable && me->button() == Qt::LeftButton
            && !(m_widget->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
            const QPoint local = m_widget->mapFromGlobal(me->globalPos());
            if (local.y() >= 0 && local.y() < static_cast<int>(m_titleHeight)) {
                m_dragging = true;
                m_dragOffset = me->globalPos() - m_widget->frameGeometry().topLeft();
            }
        }
        break;
    }
    case QEvent::MouseMove: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (m_dragging && (me->buttons() & Qt::LeftButton))
            m_widget->move(me->globalPos() - m_dragOffset);
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            m_dragging = false;
        break;
    default:
        break;
    }
    // Never swallow the events: the widget's own handlers still see them.
    return false;
}
