#include "ReleaseHold.h"

ReleaseHold::ReleaseHold(int maxHoldMs, QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(maxHoldMs);
    connect(&m_timer, &QTimer::timeout, this, &ReleaseHold::release);
}

ReleaseHold::~ReleaseHold()
{
    release();
}

void ReleaseHold::release()
{
    m_timer.stop();
    for (std::function<void()> &release : m_held)
        RecordRelease::post(std::move(release));
    m_held.clear();
}
