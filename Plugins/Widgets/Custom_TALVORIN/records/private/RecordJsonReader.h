#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

class NumberPool;
class TextPool;

// The fast reader behind RecordJson (which states its rules), for the builder of a query's
// records: it runs on simdjson and gives exactly what the QJsonDocument reader gives. Whenever
// an input lies where the two could disagree (simdjson rejects it, surrogate escapes, zero or
// subnormal doubles that Qt may treat as underflow, -0), the whole text goes to the Qt reader.
// Both columns in the panel's own form are read without simdjson (same results, less cpu).
// Equal texts (numbers, defect names) are shared among everything one reader reads.
class RecordJsonReader
{
public:
    RecordJsonReader();
    ~RecordJsonReader();
    RecordJsonReader(const RecordJsonReader &) = delete;
    RecordJsonReader &operator=(const RecordJsonReader &) = delete;

    // The items of one column's UTF-8 text, in array order, in place of the content of `items`.
    void read(const char *utf8, qsizetype size, std::vector<tlv::HoleInfo> &items);
    void read(const char *utf8, qsizetype size, std::vector<tlv::ApeInfo> &items);
    // Distinct texts the reader holds for sharing.
    size_t pooledTexts() const;
    // How many texts went to the Qt reader so far.
    quint64 fallbacks() const { return m_fallbacks; }

private:
    template <typename Item> void readItems(const char *utf8, qsizetype size, std::vector<Item> &items);

    struct Simdjson;
    struct PanelScratch;
    std::unique_ptr<Simdjson> m_simdjson;
    std::unique_ptr<PanelScratch> m_panel;
    std::unique_ptr<NumberPool> m_numbers;
    std::unique_ptr<TextPool> m_texts;
    quint64 m_fallbacks = 0;
};
