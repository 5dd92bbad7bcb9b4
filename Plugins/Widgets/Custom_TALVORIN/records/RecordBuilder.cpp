#include "RecordBuilder.h"

#include "ReadBatch.h"
#include "RecordBlock.h"
#include "RecordJsonReader.h"

#include <QDebug>

#include <system_error>
#include <utility>

namespace {

// Below this many rows a batch is built by the caller alone: waking a helper costs more.
constexpr int kShareFrom = 16;
// Readers holding more distinct texts than this (about 30 MB with their table) are let go
// rather than kept for the next query.
constexpr size_t kKeepTexts = size_t(1) << 19;

} // namespace

// What one thread needs to turn rows into records.
struct RecordBuilder::Maker
{
    RecordJsonReader parser;
    std::vector<tlv::HoleInfo> holes;
    std::vector<tlv::ApeInfo> apes;

    std::shared_ptr<tlv::ProductInfo> make(ReadBatch &batch, ReadRow &row)
    {
        const std::string_view diameter = batch.diameter(row);
        const std::string_view appearance = batch.appearance(row);
        parser.read(diameter.data(), qsizetype(diameter.size()), holes);
        parser.read(appearance.data(), qsizetype(appearance.size()), apes);
        std::shared_ptr<tlv::ProductInfo> product = RecordBlock::make(holes, apes);
        product->uptime = std::move(row.uptime);
        product->pid = row.pid;
        product->barcode = std::move(row.barcode);
        product->psize = std::move(row.psize);
        product->status = row.status;
        product->id = row.id;
        return product;
    }
};

RecordReaders::RecordReaders() = default;
RecordReaders::~RecordReaders() = default;

RecordBuilder::RecordBuilder(RecordReaders *kept)
    : m_kept(kept)
{
    if (m_kept) {
        m_own = std::move(m_kept->m_own);
        m_helperMaker = std::move(m_kept->m_helper);
    }
    if (!m_own)
        m_own = std::make_unique<Maker>();
}

RecordBuilder::~RecordBuilder()
{
    if (m_helper.joinable()) {
        m_next.store(m_count, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Q_ASSERT_X(m_batch || !m_helperBusy, "RecordBuilder", "the batch being built is gone");
            m_quit = true;
        }
        m_posted.notify_one();
        m_helper.join();
    }
    if (!m_kept)
        return;
    // The helper has ended: both readers are this thread's to hand back.
    const auto keep = [](std::unique_ptr<Maker> &maker) {
        if (maker && maker->parser.pooledTexts() > kKeepTexts)
            maker.reset();
        return std::move(maker);
    };
    m_kept->m_own = keep(m_own);
    m_kept->m_helper = keep(m_helperMaker);
}

void RecordBuilder::start(ReadBatch &batch)
{
    Q_ASSERT_X(!m_batch, "RecordBuilder::start", "the batch before is not finished");
    m_batch = &batch;
    m_count = batch.size();
    m_built.resize(size_t(m_count));
    m_next.store(0, std::memory_order_relaxed);
    m_shared = m_count >= kShareFrom && startHelper();
    if (!m_shared)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hasWork = true;
    }
    m_posted.notify_one();
}

bool RecordBuilder::complete(const std::function<bool()> &proceed)
{
    Q_ASSERT_X(m_batch, "RecordBuilder::finish", "no batch started");
    Q_ASSERT_X(m_batch->size() == m_count, "RecordBuilder::finish", "the batch changed since start()");
    bool wanted = true;
    for (;;) {
        if (!proceed()) {
            wanted = false;
            // The helper's next take finds nothing left.
            m_next.store(m_count, std::memory_order_relaxed);
            break;
        }
        const int i = m_next.fetch_add(1, std::memory_order_relaxed);
        if (i >= m_count)
            break;
        m_built[size_t(i)] = m_own->make(*m_batch, m_batch->row(i));
    }

    if (m_shared) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A helper that has not woken up yet finds no batch when it does.
        m_hasWork = false;
        m_finished.wait(lock, [this] { return !m_helperBusy; });
    }
    // Every row is taken and the helper is idle: nobody reads the batch any more.
    const auto helperIdle = [this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_hasWork && !m_helperBusy;
    };
    Q_ASSERT(m_next.load(std::memory_order_relaxed) >= m_count);
    Q_ASSERT(helperIdle());
    m_batch = nullptr;
    if (!wanted)
        m_built.clear();
    return wanted;
}

bool RecordBuilder::finish(std::vector<QList<std::shared_ptr<tlv::ProductInfo>>> &slices, int sliceSize,
    const std::function<bool()> &proceed)
{
    Q_ASSERT(sliceSize > 0);
    if (!complete(proceed))
        return false;
    for (size_t i = 0; i < m_built.size(); ++i) {
        if (i % size_t(sliceSize) == 0) {
            slices.emplace_back();
            slices.back().reserve(int(qMin(m_built.size() - i, size_t(sliceSize))));
        }
        slices.back().append(m_built[i]);
    }
    m_built.clear();
    return true;
}

bool RecordBuilder::startHelper()
{
    if (m_helper.joinable())
        return true;
    if (m_helperFailed)
        return false;
    if (!m_helperMaker)
        m_helperMaker = std::make_unique<Maker>();
    try {
        m_helper = std::thread(&RecordBuilder::helperLoop, this);
        return true;
    } catch (const std::system_error &error) {
        qWarning().noquote() << QStringLiteral(
            "RecordBuilder: no helper thread (%1), the records are built on one thread")
                                    .arg(QString::fromLocal8Bit(error.what()));
        m_helperFailed = true;
        return false;
    }
}

void RecordBuilder::work(Maker &maker)
{
    for (;;) {
        const int i = m_next.fetch_add(1, std::memory_order_relaxed);
        if (i >= m_count)
            return;
        m_built[size_t(i)] = maker.make(*m_batch, m_batch->row(i));
    }
}

void RecordBuilder::helperLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_posted.wait(lock, [this] { return m_hasWork || m_quit; });
        if (m_quit)
            return;
        m_hasWork = false;
        m_helperBusy = true;
        Q_ASSERT(m_batch);
        lock.unlock();
        work(*m_helperMaker);
        lock.lock();
        m_helperBusy = false;
        m_finished.notify_one();
    }
}
