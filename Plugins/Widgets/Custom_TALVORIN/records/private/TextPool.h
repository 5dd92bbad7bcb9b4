#pragma once

#include <QString>

#include <vector>

// One shared QString per distinct short text: the texts of a query's rows repeat (number texts
// of a camera layout, diameters around one nominal value, barcodes of one order), so handing
// out shared copies spares an allocation and its memory per item. The pool holds its texts
// until it is destroyed; texts longer than a slot's key are converted without sharing.
//
// A day's texts fill a table far larger than the caches, so each lookup costs two misses (the
// slot, then the shared text's count). request()/resolve() look up a row's texts together,
// with prefetches, so that the misses overlap instead of queueing.
class TextPool
{
public:
    TextPool();

    // QString::fromUtf8(utf8, size), shared with every earlier equal text of this pool.
    QString get(const char *utf8, int size);

    // As get(), written to *target by the next resolve(); *target must stay where it is until then.
    void request(const char *utf8, int size, QString *target);
    void resolve();

private:
    static constexpr int kMaxKey = 19;
    struct Slot
    {
        QString value;
        quint32 hash = 0;
        qint8 size = -1;
        char key[kMaxKey];
    };
    struct Request
    {
        QString *target;
        Slot *slot;
        quint32 hash;
        int size;
        char key[kMaxKey];
    };

    Slot &find(const char *utf8, int size, quint32 hash);
    void grow();

    std::vector<Slot> m_slots;
    std::vector<Request> m_requests;
    int m_used = 0;
};
