#pragma once

#include "ApeInfo.h"
#include "HoleInfo.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

class NumberPool;
class TextPool;

// Reads the "diameter" and "appearance" column texts of product_data_new into item records.
//
// Rules: empty text, a parse error or a top level that is not an array give no items; an
// element gives an item only when it is an object holding all four keys; "idx" reads as
// QJsonValue::toInt(0), "status" only from a JSON boolean, numbers as QJsonValue::toDouble(0)
// turned into text as QString::number(v, 'g', 6) does, "ngtypes" as an array of strings.
//
// The reader runs on simdjson and gives exactly what the QJsonDocument reader gives. Whenever
// an input lies where the two could disagree (simdjson rejects it, surrogate escapes, zero or
// subnormal doubles that Qt may treat as underflow, -0), the whole text goes to the Qt reader.
// Equal texts (numbers, defect names) are shared among everything one parser reads.
class RecordJsonParser
{
public:
    using HoleList = QList<std::shared_ptr<tlv::HoleInfo>>;
    using ApeList = QList<std::shared_ptr<tlv::ApeInfo>>;

    RecordJsonParser();
    ~RecordJsonParser();
    RecordJsonParser(const RecordJsonParser &) = delete;
    RecordJsonParser &operator=(const RecordJsonParser &) = delete;

    // The items of one column's UTF-8 text, in array order, in place of the content of `items`.
    void read(const char *utf8, qsizetype size, std::vector<tlv::HoleInfo> &items);
    void read(const char *utf8, qsizetype size, std::vector<tlv::ApeInfo> &items);
    // How many texts went to the Qt reader so far.
    quint64 fallbacks() const { return m_fallbacks; }

    // Separately held items, each call with a parser of its own.
    static HoleList parseHoles(const QByteArray &utf8);
    static ApeList parseApes(const QByteArray &utf8);
    // The reference: QJsonDocument alone.
    static HoleList parseHolesQt(const QByteArray &utf8);
    static ApeList parseApesQt(const QByteArray &utf8);

private:
    template <typename Item> void readItems(const char *utf8, qsizetype size, std::vector<Item> &items);

    struct Simdjson;
    std::unique_ptr<Simdjson> m_simdjson;
    std::unique_ptr<NumberPool> m_numbers;
    std::unique_ptr<TextPool> m_texts;
    quint64 m_fallbacks = 0;
};
