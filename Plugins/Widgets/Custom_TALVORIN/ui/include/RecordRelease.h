#pragma once

#include <QThreadPool>

#include <utility>

// Lets go of a large list of shared records on a pool thread: freeing a million products with
// their items takes seconds, which the GUI thread must not spend. `list` is left empty at once;
// a record still held elsewhere (a clicked product's holes, an export in progress) lives on
// until that holder lets go, as always.
template <typename List> void releaseLater(List &list)
{
    // Small lists cost less to free here than a hand-over.
    constexpr int kHandOver = 2000;
    if (list.size() < kHandOver) {
        list = List();
        return;
    }
    QThreadPool::globalInstance()->start([held = std::exchange(list, List())]() mutable { held = List(); });
}
