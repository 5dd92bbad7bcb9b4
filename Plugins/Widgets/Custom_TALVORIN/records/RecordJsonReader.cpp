#include "RecordJsonReader.h"

#include "RecordJson.h"

#include "NumberPool.h"
#include "NumberText.h"
#include "TextPool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <simdjson.h>

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Below Qt's own nesting limit, so anything deeper is left to the Qt reader.
constexpr size_t kMaxDepth = 64;

// Qt keeps lone surrogates of \u escapes, simdjson rejects or mangles them.
bool hasSurrogateEscape(const char *data, size_t size)
{
    const char *p = data;
    const char *end = data + size;
    while ((p = static_cast<const char *>(std::memchr(p, '\\', size_t(end - p)))) != nullptr) {
        if (end - p >= 4 && p[1] == 'u' && (p[2] == 'd' || p[2] == 'D')) {
            const char c = p[3];
            if ((c >= '8' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
                return true;
        }
        p += 2;
        if (p >= end)
            break;
    }
    return false;
}

// Qt's number reader refuses results that underflow; simdjson gives 0 or a subnormal. A
// double of type "double" that is zero (also -0, which Qt keeps apart from the integer -0)
// or below the normal range therefore goes to the Qt reader, wherever it sits.
bool numbersAgree(element e);

bool childrenAgree(element e)
{
    if (e.type() == element_type::ARRAY) {
        for (element child : simdjson::dom::array(e)) {
            if (!numbersAgree(child))
                return false;
        }
        return true;
    }
    for (simdjson::dom::key_value_pair field : simdjson::dom::object(e)) {
        if (!numbersAgree(field.value))
            return false;
    }
    return true;
}

inline bool numbersAgree(element e)
{
    switch (e.type()) {
    case element_type::ARRAY:
    case element_type::OBJECT:
        return childrenAgree(e);
    case element_type::DOUBLE:
        return std::fabs(double(e)) >= DBL_MIN;
    default:
        return true;
    }
}

// QJsonValue::toDouble(0).
double toDouble(element e)
{
    switch (e.type()) {
    case element_type::INT64:
        return double(int64_t(e));
    case element_type::UINT64:
        return double(uint64_t(e));
    case element_type::DOUBLE:
        return double(e);
    default:
        return 0.0;
    }
}

// QJsonValue::toInt(0): integers in int range, doubles that are whole numbers in int range.
int toInt(element e)
{
    switch (e.type()) {
    case element_type::INT64: {
        const int64_t n = int64_t(e);
        return (n >= INT_MIN && n <= INT_MAX) ? int(n) : 0;
    }
    case element_type::DOUBLE: {
        const double d = double(e);
        if (d >= double(INT_MIN) && d <= double(INT_MAX)) {
            const int i = int(d);
            return double(i) == d ? i : 0;
        }
        return 0;
    }
    default:
        return 0;
    }
}

// Where the fast reader's texts are shared.
struct Pools
{
    NumberPool &numbers;
    TextPool &texts;
};

// The number text of `v` into *target, shared through a pool at its next resolve().
void requestNumberText(double v, QString *target, Pools pools)
{
    quint32 key = 0;
    if (NumberText::key(v, key)) {
        pools.numbers.request(key, target);
        return;
    }
    char text[32];
    const int size = NumberText::toChars(v, text);
    if (size == 0)
        *target = QString::number(v, 'g', 6);
    else
        pools.texts.request(text, size, target);
}

// The columns exactly as the panel writes them (Qt's compact form, keys in its order), read
// without simdjson, whose tape of them took a fifth of a query's cpu (a day of a year: 12 % less
// cpu this way):
//   [{"idx":I,"position":N,"status":B,"value":N},...]
//   [{"idx":I,"ngtypes":["text",...],"position":N,"status":B},...]
// Anything else (spaces, other keys or orders, integers beyond int64, idx outside int, doubles
// that numbersAgree() sends to the Qt reader, escapes or control bytes or malformed UTF-8 in a
// text) returns false, and the column takes the general path. Numbers are read as simdjson reads
// them: integer literals as int64, others correctly rounded; a decimal whose digits alone decide
// its six-digit text (nearly all the panel writes) gives the text's key without the double.
class PanelForm
{
public:
    // A number as read: its double, or for a decimal literal that decides its text alone, the
    // text's key (NumberText::keyOfDecimal), without reading the double.
    struct Number
    {
        double v;
        quint32 key;
        bool keyed;
    };
    struct Item
    {
        int idx;
        bool status;
        Number position;
        Number value; // holes
        int firstType; // appearance: its texts in types()
        int typeCount;
    };

    bool read(const char *p, const char *end, bool holes)
    {
        m_items.clear();
        m_types.clear();
        if (!take(p, end, "["))
            return false;
        if (take(p, end, "]"))
            return p == end;
        for (;;) {
            Item item; // every field set below, without zeroing the whole item first
            item.firstType = 0;
            item.typeCount = 0;
            item.value = Number { 0, 0, false };
            bool integer = false;
            Number idx;
            if (!take(p, end, "{\"idx\":") || !number(p, end, idx, integer) || !integer
                || idx.v < double(INT_MIN) || idx.v > double(INT_MAX))
                return false;
            item.idx = int(idx.v);
            if (!holes && (!take(p, end, ",\"ngtypes\":") || !texts(p, end, item)))
                return false;
            if (!take(p, end, ",\"position\":") || !number(p, end, item.position, integer)
                || !take(p, end, ",\"status\":"))
                return false;
            item.status = take(p, end, "true");
            if (!item.status && !take(p, end, "false"))
                return false;
            if (holes && (!take(p, end, ",\"value\":") || !number(p, end, item.value, integer)))
                return false;
            if (!take(p, end, "}"))
                return false;
            m_items.push_back(item);
            if (take(p, end, "]"))
                return p == end;
            if (!take(p, end, ","))
                return false;
        }
    }

    const std::vector<Item> &items() const { return m_items; }
    const std::string_view &type(int i) const { return m_types[size_t(i)]; }

private:
    template <size_t N> static bool take(const char *&p, const char *end, const char (&text)[N])
    {
        if (size_t(end - p) < N - 1 || std::memcmp(p, text, N - 1) != 0)
            return false;
        p += N - 1;
        return true;
    }

    static bool digit(const char *p, const char *end) { return p < end && *p >= '0' && *p <= '9'; }

    // Eight ASCII digits at p (fast_float's test and conversion).
    static bool eightDigits(const char *p)
    {
        quint64 v;
        std::memcpy(&v, p, 8);
        return ((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4))
            == 0x3333333333333333;
    }
    static quint32 eightDigitsValue(const char *p)
    {
        quint64 v;
        std::memcpy(&v, p, 8);
        v = (v & 0x0F0F0F0F0F0F0F0F) * 2561 >> 8;
        v = (v & 0x00FF00FF00FF00FF) * 6553601 >> 16;
        return quint32((v & 0x0000FFFF0000FFFF) * 42949672960001 >> 32);
    }
    static const char *skipDigits(const char *q, const char *end)
    {
        while (end - q >= 8 && eightDigits(q))
            q += 8;
        while (digit(q, end))
            ++q;
        return q;
    }
    // The digits [p, e) appended to `value`; at most 19 in all.
    static quint64 appendDigits(quint64 value, const char *p, const char *e)
    {
        for (; e - p >= 8; p += 8)
            value = value * 100000000 + eightDigitsValue(p);
        for (; p < e; ++p)
            value = value * 10 + quint64(*p - '0');
        return value;
    }

    // A JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    static bool number(const char *&p, const char *end, Number &n, bool &integer)
    {
        const char *start = p;
        const char *q = p;
        const bool negative = q < end && *q == '-';
        if (negative)
            ++q;
        if (!digit(q, end))
            return false;
        const char *intStart = q;
        q = *q == '0' ? q + 1 : skipDigits(q, end);
        const char *intEnd = q;
        const char *fraction = q;
        integer = true;
        if (q < end && *q == '.') {
            integer = false;
            fraction = ++q;
            if (!digit(q, end))
                return false;
            q = skipDigits(q, end);
        }
        const char *fractionEnd = integer ? fraction : q;
        int exp10 = -int(fractionEnd - fraction);
        if (q < end && (*q == 'e' || *q == 'E')) {
            integer = false;
            ++q;
            const bool down = q < end && *q == '-';
            if (q < end && (*q == '+' || *q == '-'))
                ++q;
            if (!digit(q, end))
                return false;
            int e = 0;
            while (digit(q, end))
                e = qMin(e * 10 + (*q++ - '0'), 100000); // far outside any key's range
            exp10 += down ? -e : e;
        }
        n.keyed = false;
        // The literal as digits * 10^exp10; its leading zeros are no significant digits.
        const int written = int(intEnd - intStart) + int(fractionEnd - fraction);
        if (!integer && written <= 19) {
            const quint64 digits = appendDigits(appendDigits(0, intStart, intEnd), fraction, fractionEnd);
            int zeros = 0;
            if (*intStart == '0') {
                zeros = 1;
                for (const char *z = fraction; z < fractionEnd && *z == '0'; ++z)
                    ++zeros;
            }
            n.keyed = NumberText::keyOfDecimal(digits, written - zeros, exp10, negative, n.key);
        }
        if (n.keyed) {
            n.v = 0; // not read
        } else if (integer) {
            int64_t value = 0;
            const auto [ptr, ec] = std::from_chars(start, q, value);
            if (ec != std::errc() || ptr != q)
                return false;
            n.v = double(value);
        } else {
            const auto [ptr, ec] = std::from_chars(start, q, n.v);
            if (ec != std::errc() || ptr != q || !(std::fabs(n.v) >= DBL_MIN))
                return false;
        }
        p = q;
        return true;
    }

    // ["text",...] of plain texts: no escapes, no control bytes, valid UTF-8.
    bool texts(const char *&p, const char *end, Item &item)
    {
        item.firstType = int(m_types.size());
        if (!take(p, end, "["))
            return false;
        if (!take(p, end, "]")) {
            for (;;) {
                if (!take(p, end, "\""))
                    return false;
                const char *text = p;
                bool ascii = true;
                while (p < end && *p != '"') {
                    const auto byte = static_cast<unsigned char>(*p++);
                    if (byte < 0x20 || byte == '\\')
                        return false;
                    ascii = ascii && byte < 0x80;
                }
                if (p == end || (!ascii && !simdjson::validate_utf8(text, size_t(p - text))))
                    return false;
                m_types.emplace_back(text, size_t(p - text));
                ++p;
                if (take(p, end, "]"))
                    break;
                if (!take(p, end, ","))
                    return false;
            }
        }
        item.typeCount = int(m_types.size()) - item.firstType;
        return true;
    }

    std::vector<Item> m_items;
    std::vector<std::string_view> m_types;
};

void requestNumberText(const PanelForm::Number &n, QString *target, Pools pools)
{
    if (n.keyed)
        pools.numbers.request(n.key, target);
    else
        requestNumberText(n.v, target, pools);
}

// What differs between the two columns: the fourth key and how its value is read.
template <typename Item> struct Column;

template <> struct Column<tlv::HoleInfo>
{
    static constexpr std::string_view kKey = "value";
    static void fill(tlv::HoleInfo &hole, element value, Pools pools)
    {
        requestNumberText(toDouble(value), &hole.value, pools);
    }
    static void fill(tlv::HoleInfo &hole, const PanelForm &, const PanelForm::Item &read, Pools pools)
    {
        requestNumberText(read.value, &hole.value, pools);
    }
    static void fill(tlv::HoleInfo &hole, const QJsonValue &value, TextPool *texts)
    {
        hole.value = NumberText::of(value.toDouble(0), texts);
    }
};

template <> struct Column<tlv::ApeInfo>
{
    static constexpr std::string_view kKey = "ngtypes";
    static void fill(tlv::ApeInfo &ape, element types, Pools pools)
    {
        if (types.type() != element_type::ARRAY)
            return;
        const simdjson::dom::array array(types);
        ape.ngtypes.reserve(int(array.size()));
        for (element type : array) {
            if (type.type() != element_type::STRING) {
                ape.ngtypes.append(QString());
                continue;
            }
            const std::string_view text(type);
            ape.ngtypes.append(pools.texts.get(text.data(), int(text.size())));
        }
    }
    static void fill(tlv::ApeInfo &ape, const PanelForm &form, const PanelForm::Item &read, Pools pools)
    {
        ape.ngtypes.reserve(read.typeCount);
        for (int t = 0; t < read.typeCount; ++t) {
            const std::string_view text = form.type(read.firstType + t);
            ape.ngtypes.append(pools.texts.get(text.data(), int(text.size())));
        }
    }
    static void fill(tlv::ApeInfo &ape, const QJsonValue &types, TextPool *)
    {
        const QJsonArray array = types.toArray();
        for (const QJsonValue &type : array)
            ape.ngtypes.append(type.toString());
    }
};

// The items of one column's array, their texts requested from the pools; false, with the
// walk cut short, at the first double that the Qt reader could read otherwise. Every value of
// the document passes numbersAgree, so such a double sends the text to the Qt reader wherever
// it sits, also under keys that give no item.
template <typename Item> bool requestItems(element root, std::vector<Item> &items, Pools pools)
{
    if (root.type() != element_type::ARRAY)
        return numbersAgree(root);
    const simdjson::dom::array array(root);
    items.reserve(array.size()); // the texts requested below are written into the items
    for (element child : array) {
        if (child.type() != element_type::OBJECT) {
            if (!numbersAgree(child))
                return false;
            continue;
        }
        // A repeated key takes its last value, as in Qt.
        element idx, status, position, fourth;
        unsigned found = 0;
        for (simdjson::dom::key_value_pair field : simdjson::dom::object(child)) {
            if (!numbersAgree(field.value))
                return false;
            if (field.key == "idx") {
                idx = field.value;
                found |= 1;
            } else if (field.key == "status") {
                status = field.value;
                found |= 2;
            } else if (field.key == "position") {
                position = field.value;
                found |= 4;
            } else if (field.key == Column<Item>::kKey) {
                fourth = field.value;
                found |= 8;
            }
        }
        if (found != 15)
            continue;
        Item &item = items.emplace_back();
        item.idx = toInt(idx);
        item.status = status.type() == element_type::BOOL && bool(status);
        requestNumberText(toDouble(position), &item.position, pools);
        Column<Item>::fill(item, fourth, pools);
    }
    return true;
}

// The simdjson reader of one column; false when the text has to go to the Qt reader.
template <typename Item> bool readFast(element root, std::vector<Item> &items, Pools pools)
{
    const bool agree = requestItems(root, items, pools);
    // Resolved even when the items are dropped: the requests point into them.
    pools.numbers.resolve();
    pools.texts.resolve();
    return agree;
}

// The QJsonDocument reader of one column: the reference, and the fallback of readFast.
template <typename Item> void readQt(const QByteArray &utf8, std::vector<Item> &items, TextPool *texts)
{
    const QJsonArray array = QJsonDocument::fromJson(utf8).array();
    const QLatin1String fourthKey(Column<Item>::kKey.data(), int(Column<Item>::kKey.size()));
    for (const QJsonValue &element : array) {
        const QJsonObject object = element.toObject();
        if (!object.contains(QLatin1String("idx")) || !object.contains(QLatin1String("status"))
            || !object.contains(QLatin1String("position")) || !object.contains(fourthKey))
            continue;
        Item &item = items.emplace_back();
        item.idx = object.value(QLatin1String("idx")).toInt(0);
        item.status = object.value(QLatin1String("status")).toBool(false);
        item.position = NumberText::of(object.value(QLatin1String("position")).toDouble(0), texts);
        Column<Item>::fill(item, object.value(fourthKey), texts);
    }
}

template <typename Item> QList<std::shared_ptr<Item>> toList(std::vector<Item> &items)
{
    QList<std::shared_ptr<Item>> list;
    list.reserve(int(items.size()));
    for (Item &item : items)
        list.append(std::make_shared<Item>(std::move(item)));
    return list;
}

} // namespace

struct RecordJsonReader::Simdjson
{
    simdjson::dom::parser parser;
    std::vector<char> padded;
    bool ready = parser.allocate(4096, kMaxDepth) == simdjson::SUCCESS;

    // The document's root in the parser; false when the Qt reader has to decide.
    bool parse(const char *data, size_t size, element &root)
    {
        if (!ready || hasSurrogateEscape(data, size))
            return false;
        if (padded.size() < size + simdjson::SIMDJSON_PADDING)
            padded.resize(size + simdjson::SIMDJSON_PADDING + size / 2);
        std::memcpy(padded.data(), data, size);
        return parser.parse(padded.data(), size, false).get(root) == simdjson::SUCCESS;
    }
};

struct RecordJsonReader::PanelScratch : PanelForm
{
};

RecordJsonReader::RecordJsonReader()
    : m_simdjson(std::make_unique<Simdjson>())
    , m_panel(std::make_unique<PanelScratch>())
    , m_numbers(std::make_unique<NumberPool>())
    , m_texts(std::make_unique<TextPool>())
{
}

RecordJsonReader::~RecordJsonReader() = default;

size_t RecordJsonReader::pooledTexts() const
{
    return m_numbers->size() + m_texts->size();
}

template <typename Item>
void RecordJsonReader::readItems(const char *utf8, qsizetype size, std::vector<Item> &items)
{
    items.clear();
    if (size <= 0)
        return;
    if (m_panel->read(utf8, utf8 + size, std::is_same_v<Item, tlv::HoleInfo>)) {
        const Pools pools { *m_numbers, *m_texts };
        const std::vector<PanelForm::Item> &read = m_panel->items();
        items.resize(read.size()); // the texts requested below are written into the items
        for (size_t i = 0; i < read.size(); ++i) {
            Item &item = items[i];
            item.idx = read[i].idx;
            item.status = read[i].status;
            requestNumberText(read[i].position, &item.position, pools);
            Column<Item>::fill(item, *m_panel, read[i], pools);
        }
        m_numbers->resolve();
        m_texts->resolve();
        return;
    }
    element root;
    if (m_simdjson->parse(utf8, size_t(size), root) && readFast(root, items, Pools { *m_numbers, *m_texts }))
        return;
    items.clear();
    ++m_fallbacks;
    readQt(QByteArray::fromRawData(utf8, int(size)), items, m_texts.get());
}

void RecordJsonReader::read(const char *utf8, qsizetype size, std::vector<tlv::HoleInfo> &items)
{
    readItems(utf8, size, items);
}

void RecordJsonReader::read(const char *utf8, qsizetype size, std::vector<tlv::ApeInfo> &items)
{
    readItems(utf8, size, items);
}

RecordJson::HoleList RecordJson::readHoles(const QByteArray &utf8)
{
    std::vector<tlv::HoleInfo> items;
    RecordJsonReader().read(utf8.constData(), utf8.size(), items);
    return toList(items);
}

RecordJson::ApeList RecordJson::readApes(const QByteArray &utf8)
{
    std::vector<tlv::ApeInfo> items;
    RecordJsonReader().read(utf8.constData(), utf8.size(), items);
    return toList(items);
}

RecordJson::HoleList RecordJson::readHolesWithQt(const QByteArray &utf8)
{
    std::vector<tlv::HoleInfo> items;
    if (!utf8.isEmpty())
        readQt(utf8, items, nullptr);
    return toList(items);
}

RecordJson::ApeList RecordJson::readApesWithQt(const QByteArray &utf8)
{
    std::vector<tlv::ApeInfo> items;
    if (!utf8.isEmpty())
        readQt(utf8, items, nullptr);
    return toList(items);
}
