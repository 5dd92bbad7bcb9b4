#pragma once

#include "NumberText.h"
#include "TextTable.h"

#include <QString>

// One shared QString per number text (TextTable), looked up by the number's six-digit key
// (NumberText::key) rather than by its text: a repeated number costs one lookup, without
// formatting or hashing bytes.
class NumberPool
{
public:
    // The text of the number with this key, QString::number(v, 'g', 6), written to *target by
    // the next resolve(); *target must stay where it is until then.
    void request(quint32 key, QString *target) { m_table.request(Key { key }, target); }
    void resolve() { m_table.resolve(); }
    size_t size() const { return m_table.size(); }

private:
    struct Key
    {
        quint32 key = ~quint32(0); // no number's key
        quint32 hash() const { return key; }
        bool empty() const { return key == ~quint32(0); }
        bool operator==(const Key &other) const { return key == other.key; }
        QString text() const
        {
            char text[32];
            return QString::fromLatin1(text, NumberText::keyText(key, text));
        }
    };

    TextTable<Key> m_table;
};
