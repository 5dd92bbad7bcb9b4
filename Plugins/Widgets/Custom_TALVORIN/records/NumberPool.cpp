#include "NumberPool.h"

#include "NumberText.h"

#include <utility>

namespace {

constexpr int kInitialBits = 12;

void prefetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address, 1);
#else
    Q_UNUSED(address)
#endif
}

} // namespace

NumberPool::NumberPool()
    : m_slots(size_t(1) << kInitialBits)
    , m_shift(64 - kInitialBits)
{
}

bool NumberPool::request(double v, QString *target)
{
    quint32 key = 0;
    if (!NumberText::key(v, key))
        return false;
    m_requests.push_back(Request { target, nullptr, key });
    prefetch(&m_slots[indexOf(key)]);
    return true;
}

void NumberPool::resolve()
{
    // Room for every request first, so that no slot moves between the passes.
    m_used += int(m_requests.size());
    while (size_t(m_used) * 4 > m_slots.size() * 3)
        grow();
    for (Request &r : m_requests) {
        r.slot = &find(r.key);
        prefetch(r.slot->value.data_ptr());
    }
    for (const Request &r : m_requests)
        *r.target = r.slot->value;
    m_requests.clear();
}

// The slot of the key, filled on first sight; m_used counts it in advance.
NumberPool::Slot &NumberPool::find(quint32 key)
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = indexOf(key);; i = (i + 1) & mask) {
        Slot &slot = m_slots[i];
        if (slot.key == key) {
            --m_used;
            return slot;
        }
        if (slot.key == kEmpty) {
            char text[32];
            slot.key = key;
            slot.value = QString::fromLatin1(text, NumberText::keyText(key, text));
            return slot;
        }
    }
}

void NumberPool::grow()
{
    std::vector<Slot> old(m_slots.size() * 2);
    old.swap(m_slots);
    --m_shift;
    const size_t mask = m_slots.size() - 1;
    for (Slot &slot : old) {
        if (slot.key == kEmpty)
            continue;
        size_t i = indexOf(slot.key);
        while (m_slots[i].key != kEmpty)
            i = (i + 1) & mask;
        m_slots[i] = std::move(slot);
    }
}
