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

class ReadBatch;
class RecordReaders;

// Builds the product records of a batch of read rows on two threads: the caller's and a helper that
// the first batch worth sharing starts. The helper takes rows from start() on, so the caller can
// read the next batch meanwhile; finish() has the caller take the rest. Both take one row at a
// time from the front, so a helper that the scheduler does not run (the host's image processing
// has the cores) costs the caller at most the one row it has taken; nobody waits for it to start.
class RecordBuilder
{
public:
    // With `kept`, the builder reads with the readers kept there and gives them back when it is
    // destroyed.
    explicit RecordBuilder(RecordReaders *kept = nullptr);
    // Stops the helper after its current row; the batch being built must still be there.
    ~RecordBuilder();
    RecordBuilder(const RecordBuilder &) = delete;
    RecordBuilder &operator=(const RecordBuilder &) = delete;

    // Starts on the batch's rows; the batch stays as it is until finish().
    void start(ReadBatch &batch);
    // The records of the started batch's rows in row order, appended to `slices` in lists of
    // `sliceSize` (the last one shorter). Stops once `proceed` is false, leaving `slices` as it
    // was, and returns false.
    bool finish(std::vector<QList<std::shared_ptr<tlv::ProductInfo>>> &slices, int sliceSize,
        const std::function<bool()> &proceed);

private:
    friend class RecordReaders;
    struct Maker;

    bool complete(const std::function<bool()> &proceed);
    bool startHelper();
    void work(Maker &maker);
    void helperLoop();

    RecordReaders *m_kept;
    std::unique_ptr<Maker> m_own;
    std::unique_ptr<Maker> m_helperMaker;
    std::thread m_helper;
    bool m_helperFailed = false;

    // The batch being built and the slots of its records, one per row.
    ReadBatch *m_batch = nullptr;
    bool m_shared = false;
    std::vector<std::shared_ptr<tlv::ProductInfo>> m_built;
    int m_count = 0;
    std::atomic<int> m_next { 0 };

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::condition_variable m_finished;
    bool m_hasWork = false; // a batch waits for the helper to join in
    bool m_helperBusy = false; // the helper is taking rows
    bool m_quit = false;
};

// The readers of a builder's two threads with the texts they share (numbers, defect names),
// kept from one query to the next by a caller that runs many (the report's worker): a later
// query then finds the texts made for earlier ones instead of making them again. Readers that
// hold very many texts are not kept, so what stays between queries is bounded.
class RecordReaders
{
public:
    RecordReaders();
    ~RecordReaders();
    RecordReaders(const RecordReaders &) = delete;
    RecordReaders &operator=(const RecordReaders &) = delete;

private:
    friend class RecordBuilder;
    std::unique_ptr<RecordBuilder::Maker> m_own;
    std::unique_ptr<RecordBuilder::Maker> m_helper;
};
