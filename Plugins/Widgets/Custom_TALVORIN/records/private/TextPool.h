#pragma once

#include "TextTable.h"

#include <QString>

#include <cstring>

// One shared QString per distinct short text (TextTable): the texts of a query's rows repeat
// (number texts of a camera layout, diameters around one nominal value, barcodes of one
// order). Texts longer than a key are converted without sharing.
class TextPool
{
public:
    // QString::fromUtf8(utf8, size), shared with every earlier equal text of this pool.
    QString get(const char *utf8, int size)
    {
        if (size > Key::kMaxSize)
            return QString::fromUtf8(utf8, size);
        return m_table.get(Key(utf8, size));
    }

    // As get(), written to *target by the next resolve(); *target must stay where it is until then.
    void request(const char *utf8, int size, QString *target)
    {
        if (size > Key::kMaxSize)
            *target = QString::fromUtf8(utf8, size);
        else
            m_table.request(Key(utf8, size), target);
    }
    void resolve() { m_table.resolve(); }
    size_t size() const { return m_table.size(); }

private:
    // The text's bytes, kept for the comparison, and their FNV-1a hash.
    struct Key
    {
        static constexpr int kMaxSize = 19;

        Key() = default;
        Key(const char *utf8, int n)
            : size(qint8(n))
        {
            Q_ASSERT(n >= 0 && n <= kMaxSize);
            for (int i = 0; i < n; ++i)
                hashed = (hashed ^ quint8(utf8[i])) * 16777619u;
            std::memcpy(bytes, utf8, size_t(n));
        }
        quint32 hash() const { return hashed; }
        bool empty() const { return size < 0; }
        bool operator==(const Key &other) const
        {
            return hashed == other.hashed && size == other.size
                && std::memcmp(bytes, other.bytes, size_t(size)) == 0;
        }
        QString text() const { return QString::fromUtf8(bytes, size); }

        quint32 hashed = 2166136261u;
        qint8 size = -1;
        char bytes[kMaxSize] = {};
    };

    TextTable<Key> m_table;
};
