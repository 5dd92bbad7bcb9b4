#pragma once

#include "ProductInfo.h"

#include <QList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class RowChunk;

// Builds the product records of a chunk of rows on two threads: the caller's and a helper that
// the first chunk worth sharing starts. The helper takes rows from start() on, so the caller can
// read the next chunk meanwhile; finish() has the caller take the rest. Both take one row at a
// time from the front, so a helper that the scheduler does not run (the host's image processing
// has the cores) costs the caller at most the one row it has taken; nobody waits for it to start.
class ChunkBuilder
{
public:
    ChunkBuilder();
    // Stops the helper after its current row; the chunk being built must still be there.
    ~ChunkBuilder();
    ChunkBuilder(const ChunkBuilder &) = delete;
    ChunkBuilder &operator=(const ChunkBuilder &) = delete;

    // Starts on the chunk's rows; the chunk stays as it is until finish().
    void start(RowChunk &chunk);
    // The records of the started chunk's rows appended to `products` in row order. Stops once
    // `proceed` is false, leaving `products` as it was, and returns false.
    bool finish(QList<std::shared_ptr<tlv::ProductInfo>> &products, const std::function<bool()> &proceed);

private:
    struct Maker;

    bool startHelper();
    void work(Maker &maker);
    void helperLoop();

    std::unique_ptr<Maker> m_own;
    std::unique_ptr<Maker> m_helperMaker;
    std::thread m_helper;
    bool m_helperFailed = false;

    // The chunk being built and the slots of its records, one per row.
    RowChunk *m_chunk = nullptr;
    bool m_shared = false;
    std::vector<std::shared_ptr<tlv::ProductInfo>> m_built;
    int m_count = 0;
    std::atomic<int> m_next { 0 };

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::condition_variable m_finished;
    bool m_hasWork = false; // a chunk waits for the helper to join in
    bool m_helperBusy = false; // the helper is taking rows
    bool m_quit = false;
};
