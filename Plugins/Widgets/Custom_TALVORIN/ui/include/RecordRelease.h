#pragma once

#include <functional>
#include <utility>

// Lets go of large lists of shared records on a thread of its own: freeing a million products
// with their items takes seconds, which the GUI thread must not spend. The thread is started on
// first use and joined at exit; it synchronises with std's primitives only, so ThreadSanitizer
// sees every hand-over.
class RecordRelease
{
public:
    // Runs `release` (which drops what it holds) on the release thread, in order.
    static void post(std::function<void()> release);
};

// Lists this short cost less to free on the GUI thread than a hand-over.
constexpr int kHandOver = 2000;

// `list` is left empty at once; a record still held elsewhere (a clicked product's holes, an
// export in progress) lives on until that holder lets go, as always.
template <typename List> void releaseLater(List &list)
{
    if (list.size() < kHandOver) {
        list = List();
        return;
    }
    RecordRelease::post([held = std::exchange(list, List())]() mutable { held = List(); });
}
