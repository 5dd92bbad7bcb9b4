#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

// Paints a widget at a steady pace while its content changes faster than the eye follows.
// Rows stream into the report's table a batch every millisecond or so, and each repaint lays
// out every visible cell again: painting once per interval instead of once per batch keeps the
// GUI thread free for the batches themselves.
class RepaintThrottle : public QObject
{
public:
    RepaintThrottle(QWidget *widget, int intervalMs, QObject *parent = nullptr);

    // The content changed; it is shown at the next tick of the interval.
    void changed();
    // The content is final (or emptied): shown at once, and the widget paints freely again.
    void flush();

private:
    void tick();

    QPointer<QWidget> m_widget;
    QTimer m_timer;
    bool m_changed = false;
};
