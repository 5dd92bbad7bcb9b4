#pragma once

#include <QString>

#include <vector>

// One shared QString per number text, looked up by the number's six-digit key
// (NumberText::key) rather than by its text: a repeated number costs one lookup, without
// formatting or hashing bytes. Works as TextPool's request()/resolve(): a row's lookups go
// together, with prefetches, so that their cache misses overlap.
class NumberPool
{
public:
    NumberPool();

    // The text of v, QString::number(v, 'g', 6), written to *target by the next resolve();
    // *target must stay where it is until then. False, with nothing requested, when v has no key.
    bool request(double v, QString *target);
    void resolve();

private:
    static constexpr quint32 kEmpty = ~quint32(0);
    struct Slot
    {
        quint32 key = kEmpty;
        QString value;
    };
    struct Request
    {
        QString *target;
        Slot *slot;
        quint32 key;
    };

    size_t indexOf(quint32 key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> m_shift); }
    Slot &find(quint32 key);
    void grow();

    std::vector<Slot> m_slots;
    std::vector<Request> m_requests;
    int m_shift;
    int m_used = 0;
};
