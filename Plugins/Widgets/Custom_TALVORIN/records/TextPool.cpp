#include "TextPool.h"

#include <cstring>
#include <utility>

namespace {

void prefetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address, 1);
#else
    Q_UNUSED(address)
#endif
}

quint32 hashOf(const char *text, int size)
{
    quint32 hash = 2166136261u;
    for (int i = 0; i < size; ++i)
        hash = (hash ^ quint8(text[i])) * 16777619u;
    return hash;
}

} // namespace

TextPool::TextPool()
    : m_slots(4096)
{
}

QString TextPool::get(const char *utf8, int size)
{
    if (size > kMaxKey)
        return QString::fromUtf8(utf8, size);
    if (++m_used * 4 > int(m_slots.size()) * 3)
        grow();
    return find(utf8, size, hashOf(utf8, size)).value;
}

void TextPool::request(const char *utf8, int size, QString *target)
{
    if (size > kMaxKey) {
        *target = QString::fromUtf8(utf8, size);
        return;
    }
    Request &r = m_requests.emplace_back();
    r.target = target;
    r.hash = hashOf(utf8, size);
    r.size = size;
    std::memcpy(r.key, utf8, size_t(size));
    prefetch(&m_slots[r.hash & (m_slots.size() - 1)]);
}

void TextPool::resolve()
{
    // Room for every request first, so that no slot moves between the passes.
    m_used += int(m_requests.size());
    while (m_used * 4 > int(m_slots.size()) * 3)
        grow();
    for (Request &r : m_requests) {
        r.slot = &find(r.key, r.size, r.hash);
        prefetch(r.slot->value.data_ptr());
    }
    for (const Request &r : m_requests)
        *r.target = r.slot->value;
    m_requests.clear();
}

// The slot of the text, filled on first sight; m_used counts it in advance.
TextPool::Slot &TextPool::find(const char *utf8, int size, quint32 hash)
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot &slot = m_slots[i];
        if (slot.size < 0) {
            slot.value = QString::fromUtf8(utf8, size);
            slot.hash = hash;
            slot.size = qint8(size);
            std::memcpy(slot.key, utf8, size_t(size));
            return slot;
        }
        if (slot.hash == hash && slot.size == size && std::memcmp(slot.key, utf8, size_t(size)) == 0) {
            --m_used;
            return slot;
        }
    }
}

void TextPool::grow()
{
    std::vector<Slot> old(m_slots.size() * 2);
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (Slot &slot : old) {
        if (slot.size < 0)
            continue;
        size_t i = slot.hash & mask;
        while (m_slots[i].size >= 0)
            i = (i + 1) & mask;
        m_slots[i] = std::move(slot);
    }
}
