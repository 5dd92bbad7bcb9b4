#pragma once

#include "RecordRelease.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

// Holds the records that a new 查找 clears until that query has delivered its rows, then lets
// them go on the release thread: freed meanwhile, they would take a core and the allocator from
// the query's record builders. A query that runs long lets them go after `maxHoldMs` all the
// same, so a large report is never held beside the next one for long.
class ReleaseHold : public QObject
{
public:
    explicit ReleaseHold(int maxHoldMs, QObject *parent = nullptr);
    // Lets go of everything still held.
    ~ReleaseHold() override;

    // `list` is left empty at once; what it held goes at the next release() (a small list at once).
    template <typename List> void hold(List &list)
    {
        if (list.size() < kHandOver) {
            releaseLater(list);
            return;
        }
        m_held.emplace_back([held = std::exchange(list, List())]() mutable { held = List(); });
        if (!m_timer.isActive())
            m_timer.start();
    }
    // Hands everything held to the release thread.
    void release();

private:
    std::vector<std::function<void()>> m_held;
    QTimer m_timer;
};
