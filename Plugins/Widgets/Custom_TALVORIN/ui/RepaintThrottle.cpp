#include "RepaintThrottle.h"

#include <QWidget>

RepaintThrottle::RepaintThrottle(QWidget *widget, int intervalMs, QObject *parent)
    : QObject(parent)
    , m_widget(widget)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &RepaintThrottle::tick);
}

void RepaintThrottle::changed()
{
    m_changed = true;
    if (m_timer.isActive() || !m_widget)
        return;
    m_widget->setUpdatesEnabled(false);
    m_timer.start();
}

void RepaintThrottle::flush()
{
    m_timer.stop();
    m_changed = false;
    if (m_widget)
        m_widget->setUpdatesEnabled(true);
}

void RepaintThrottle::tick()
{
    if (!m_widget || !m_changed) {
        flush();
        return;
    }
    m_changed = false;
    // Painted now, inside the tick: a posted update would wait behind the queued batches.
    m_widget->setUpdatesEnabled(true);
    m_widget->repaint();
    m_widget->setUpdatesEnabled(false);
}
