#pragma once

#include <QString>

#include <utility>
#include <vector>

// One shared QString per distinct key, made on the key's first sight and held until the table
// is destroyed: the texts of a query's rows repeat, so handing out shared copies spares an
// allocation and its memory per item. Open addressing with linear probing, at most three
// quarters full.
//
// A day's texts fill a table far larger than the caches, so each lookup costs two misses (the
// slot, then the shared text's count). request()/resolve() look up a row's texts together,
// with prefetches, so that the misses overlap instead of queueing; looked up one by one, the
// worker's texts take about a third more cpu.
//
// Key is a small value type: a default-constructed Key marks an empty slot and is never looked
// up; key.hash() gives 32 bits to spread, == compares and key.text() makes the text.
template <typename Key> class TextTable
{
public:
    TextTable()
        : m_slots(size_t(1) << kInitialBits)
        , m_shift(64 - kInitialBits)
    {
    }

    // Distinct keys held.
    size_t size() const { return m_used; }

    const QString &get(const Key &key)
    {
        reserve(1);
        return slotOf(key).value;
    }

    // As get(), written to *target by the next resolve(); *target must stay where it is until then.
    void request(const Key &key, QString *target)
    {
        Q_ASSERT(!key.empty());
        m_requests.push_back(Request { key, target, nullptr });
        prefetch(&m_slots[indexOf(key.hash())]);
    }
    void resolve()
    {
        // Room for every request first, so that no slot moves between the passes.
        reserve(m_requests.size());
        for (Request &r : m_requests) {
            r.slot = &slotOf(r.key);
            prefetch(r.slot->value.data_ptr());
        }
        for (const Request &r : m_requests)
            *r.target = r.slot->value;
        m_requests.clear();
    }

private:
    static constexpr int kInitialBits = 12;

    struct Slot
    {
        Key key;
        QString value;
    };
    struct Request
    {
        Key key;
        QString *target;
        Slot *slot;
    };

    static void prefetch(const void *address)
    {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(address, 1);
#else
        Q_UNUSED(address)
#endif
    }

    // Fibonacci hashing: the top bits of the product, so that keys which differ in few bits
    // (numbers a step apart) land apart.
    size_t indexOf(quint32 hash) const
    {
        return size_t((hash * 0x9E3779B97F4A7C15ull) >> m_shift);
    }

    // The slot holding key, or the empty slot where it belongs.
    Slot &find(const Key &key)
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t i = indexOf(key.hash());; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (slot.key.empty() || slot.key == key)
                return slot;
        }
    }

    // The slot of key, filled on first sight; reserve() has made room for it.
    Slot &slotOf(const Key &key)
    {
        Q_ASSERT(!key.empty());
        Slot &slot = find(key);
        if (slot.key.empty()) {
            ++m_used;
            slot.key = key;
            slot.value = key.text();
            Q_ASSERT(m_used * 4 <= m_slots.size() * 3);
        }
        return slot;
    }

    // Room for `count` more keys without passing the load factor.
    void reserve(size_t count)
    {
        while ((m_used + count) * 4 > m_slots.size() * 3)
            grow();
    }

    // Rare (once per doubling): kept out of the lookups' loops.
    Q_NEVER_INLINE void grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        --m_shift;
        for (Slot &slot : old) {
            if (!slot.key.empty())
                find(slot.key) = std::move(slot);
        }
    }

    std::vector<Slot> m_slots;
    std::vector<Request> m_requests;
    int m_shift;
    size_t m_used = 0;
};
