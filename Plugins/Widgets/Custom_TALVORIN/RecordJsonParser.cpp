#include "RecordJsonParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QtAlgorithms>

#include <simdjson.h>

#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Below Qt's own nesting limit, so anything deeper is left to the Qt reader.
constexpr size_t kMaxDepth = 64;

struct ThreadParser
{
    simdjson::dom::parser parser;
    std::vector<char> padded;
    quint64 fallbacks = 0;
    bool ready = false;
};

// The number texts of a day's products repeat (a camera layout's positions, diameters around
// one nominal value): handing out shared copies of recent texts spares an allocation per item.
class NumberTexts
{
public:
    QString get(const char *text, int size)
    {
        if (size > int(sizeof(Slot::text)))
            return QString::fromLatin1(text, size);
        quint32 hash = 2166136261u;
        for (int i = 0; i < size; ++i)
            hash = (hash ^ quint8(text[i])) * 16777619u;
        Slot &slot = m_slots[hash & (kSlots - 1)];
        if (slot.size != size || std::memcmp(slot.text, text, size_t(size)) != 0) {
            slot.size = size;
            std::memcpy(slot.text, text, size_t(size));
            slot.value = QString::fromLatin1(text, size);
        }
        return slot.value;
    }

private:
    static constexpr size_t kSlots = 8192;
    struct Slot
    {
        char text[16];
        int size = -1;
        QString value;
    };
    std::vector<Slot> m_slots = std::vector<Slot>(kSlots);
};

NumberTexts &numberTexts()
{
    thread_local NumberTexts texts;
    return texts;
}

ThreadParser &threadParser()
{
    thread_local ThreadParser tp;
    if (!tp.ready) {
        tp.ready = tp.parser.allocate(4096, kMaxDepth) == simdjson::SUCCESS;
    }
    return tp;
}

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
bool numbersAgree(element e)
{
    switch (e.type()) {
    case element_type::ARRAY:
        for (element child : simdjson::dom::array(e)) {
            if (!numbersAgree(child))
                return false;
        }
        return true;
    case element_type::OBJECT:
        for (simdjson::dom::key_value_pair field : simdjson::dom::object(e)) {
            if (!numbersAgree(field.value))
                return false;
        }
        return true;
    case element_type::DOUBLE: {
        const double d = double(e);
        return std::fabs(d) >= DBL_MIN;
    }
    default:
        return true;
    }
}

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

bool toBool(element e)
{
    return e.type() == element_type::BOOL && bool(e);
}

QString toText(element e)
{
    if (e.type() != element_type::STRING)
        return QString();
    const std::string_view s = std::string_view(e);
    return QString::fromUtf8(s.data(), int(s.size()));
}

// Looks up the four keys of an item object; a repeated key takes its last value, as in Qt.
struct Fields
{
    element idx, status, position, fourth;
    unsigned found = 0;
};

Fields collect(simdjson::dom::object object, std::string_view fourthKey)
{
    Fields f;
    for (simdjson::dom::key_value_pair field : object) {
        const std::string_view key = field.key;
        if (key == "idx") {
            f.idx = field.value;
            f.found |= 1;
        } else if (key == "status") {
            f.status = field.value;
            f.found |= 2;
        } else if (key == "position") {
            f.position = field.value;
            f.found |= 4;
        } else if (key == fourthKey) {
            f.fourth = field.value;
            f.found |= 8;
        }
    }
    return f;
}

// Parses into the thread's parser; false when the Qt reader has to decide.
bool parseFast(ThreadParser &tp, const char *data, size_t size, element &root)
{
    if (!tp.ready || hasSurrogateEscape(data, size))
        return false;
    if (data != tp.padded.data()) { // not converted in place by utf8Of
        if (tp.padded.size() < size + simdjson::SIMDJSON_PADDING)
            tp.padded.resize(size + simdjson::SIMDJSON_PADDING + size / 2);
        std::memcpy(tp.padded.data(), data, size);
    }
    if (tp.parser.parse(tp.padded.data(), size, false).get(root) != simdjson::SUCCESS)
        return false;
    return numbersAgree(root);
}

template<typename Item, typename Fill>
QList<std::shared_ptr<Item>> readItems(element root, std::string_view fourthKey, Fill fill)
{
    QList<std::shared_ptr<Item>> items;
    if (root.type() != element_type::ARRAY)
        return items;
    const simdjson::dom::array array(root);
    items.reserve(int(array.size()));
    for (element child : array) {
        if (child.type() != element_type::OBJECT)
            continue;
        const Fields f = collect(simdjson::dom::object(child), fourthKey);
        if (f.found != 15)
            continue;
        auto item = std::make_shared<Item>();
        item->idx = toInt(f.idx);
        item->status = toBool(f.status);
        item->position = RecordJsonParser::numberText(toDouble(f.position));
        fill(*item, f.fourth);
        items.append(std::move(item));
    }
    return items;
}

QJsonArray topLevelArray(const QByteArray &utf8)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(utf8, &error);
    return doc.array();
}

// Tie of the rounding to 6 significant digits: 2 * |v| * 10^(5 - x) is an odd integer for
// the decimal exponent x of |v|. The digit generators of Qt and of std::to_chars break ties
// differently, so those few values go through QString::number.
bool isTie(double v, int x)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = int((bits >> 52) & 0x7ff);
    uint64_t m = bits & ((uint64_t(1) << 52) - 1);
    int e;
    if (biased == 0) {
        e = -1074;
    } else {
        m |= uint64_t(1) << 52;
        e = biased - 1075;
    }
    if (m == 0)
        return false;
    const int tz = int(qCountTrailingZeroBits(quint64(m)));
    m >>= tz;
    e += tz; // |v| = m * 2^e with m odd
    const int j = 5 - x;
    if (e != -1 - j)
        return false;
    if (j >= 0)
        return true;
    uint64_t p5 = 1;
    for (int k = 0; k < -j; ++k) {
        if (p5 > m)
            return false;
        p5 *= 5;
    }
    return m % p5 == 0;
}

// Exact rounding in integers for the usual magnitudes: |v| = m * 2^e, so the digits are
// floor(m * 10^k / 2^-e) with k = 5 - x, and the remainder tells the rounding. Ties fail.
bool roundedInIntegers(double v, char digits[6], int &x, bool &negative)
{
#ifdef __SIZEOF_INT128__
    negative = std::signbit(v);
    const double a = std::fabs(v);
    if (!(a >= 1e-5 && a < 1e6))
        return false;
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    const int e = int((bits >> 52) & 0x7ff) - 1075;
    if (e >= 0)
        return false;
    static const uint64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                      1000000000, 10000000000, 100000000000, 1000000000000};
    const int shift = -e;
    x = int(std::floor((e + 52) * 0.30102999566398120));
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int k = 5 - x;
        if (k < 0 || k > 12 || shift >= 127)
            return false;
        const unsigned __int128 num = static_cast<unsigned __int128>(m) * kPow10[k];
        uint64_t q = uint64_t(num >> shift);
        if (q >= 1000000) {
            ++x;
            continue;
        }
        if (q < 100000) {
            --x;
            continue;
        }
        const unsigned __int128 rest = num & ((static_cast<unsigned __int128>(1) << shift) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest == half)
            return false;
        if (rest > half && ++q == 1000000) {
            q = 100000;
            ++x;
        }
        for (int i = 5; i >= 0; --i) {
            digits[i] = char('0' + q % 10);
            q /= 10;
        }
        return true;
    }
    return false;
#else
    Q_UNUSED(v) Q_UNUSED(digits) Q_UNUSED(x) Q_UNUSED(negative)
    return false;
#endif
}

// Correctly rounded digits from std::to_chars; ties (which it breaks to even, unlike Qt) fail.
bool roundedExactly(double v, char digits[6], int &x, bool &negative)
{
    char sci[40];
    const auto res = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific, 5);
    if (res.ec != std::errc())
        return false;
    const char *p = sci;
    negative = *p == '-';
    if (negative)
        ++p;
    digits[0] = p[0];
    std::memcpy(digits + 1, p + 2, 5);
    const char *ep = p + 7; // 'e'
    if (std::from_chars(ep[1] == '+' ? ep + 2 : ep + 1, res.ptr, x).ec != std::errc())
        return false;
    return !isTie(v, x) && !isTie(v, x - 1);
}

} // namespace

QString RecordJsonParser::numberText(double v)
{
    if (v == 0.0 && !std::signbit(v))
        return QStringLiteral("0");
    if (!std::isfinite(v) || v == 0.0)
        return QString::number(v, 'g', 6);

    bool negative = false;
    char digits[6];
    int x = 0;
    if (!roundedInIntegers(v, digits, x, negative) && !roundedExactly(v, digits, x, negative))
        return QString::number(v, 'g', 6);

    int nd = 6;
    while (nd > 1 && digits[nd - 1] == '0')
        --nd;

    char out[40];
    int n = 0;
    if (negative)
        out[n++] = '-';
    if (x < -4 || x >= 6) {
        out[n++] = digits[0];
        if (nd > 1) {
            out[n++] = '.';
            for (int i = 1; i < nd; ++i)
                out[n++] = digits[i];
        }
        out[n++] = 'e';
        out[n++] = x < 0 ? '-' : '+';
        int ax = x < 0 ? -x : x;
        if (ax < 10)
            out[n++] = '0';
        const auto er = std::to_chars(out + n, out + sizeof out, ax);
        n = int(er.ptr - out);
    } else if (x >= 0) {
        for (int i = 0; i <= x; ++i)
            out[n++] = i < nd ? digits[i] : '0';
        if (nd > x + 1) {
            out[n++] = '.';
            for (int i = x + 1; i < nd; ++i)
                out[n++] = digits[i];
        }
    } else {
        out[n++] = '0';
        out[n++] = '.';
        for (int i = 0; i < -x - 1; ++i)
            out[n++] = '0';
        for (int i = 0; i < nd; ++i)
            out[n++] = digits[i];
    }
    return numberTexts().get(out, n);
}

quint64 RecordJsonParser::fallbackCount()
{
    return threadParser().fallbacks;
}

namespace {

// The UTF-8 form of `text` in the thread's buffer, as QString::toUtf8 gives it. Texts with
// surrogates take the Qt conversion; the rest is encoded here to spare a large allocation per row.
std::string_view utf8Of(const QString &text, std::vector<char> &buffer, QByteArray &spare)
{
    const int n = text.size();
    if (buffer.size() < size_t(n) * 3 + simdjson::SIMDJSON_PADDING)
        buffer.resize(size_t(n) * 3 + simdjson::SIMDJSON_PADDING);
    const ushort *src = text.utf16();
    unsigned char *out = reinterpret_cast<unsigned char *>(buffer.data());
    for (int i = 0; i < n; ++i) {
        const ushort c = src[i];
        if (c < 0x80) {
            *out++ = uchar(c);
        } else if (c < 0x800) {
            *out++ = uchar(0xc0 | (c >> 6));
            *out++ = uchar(0x80 | (c & 0x3f));
        } else if (c >= 0xd800 && c <= 0xdfff) {
            spare = text.toUtf8();
            return std::string_view(spare.constData(), size_t(spare.size()));
        } else {
            *out++ = uchar(0xe0 | (c >> 12));
            *out++ = uchar(0x80 | ((c >> 6) & 0x3f));
            *out++ = uchar(0x80 | (c & 0x3f));
        }
    }
    return std::string_view(buffer.data(), size_t(out - reinterpret_cast<unsigned char *>(buffer.data())));
}

} // namespace

RecordJsonParser::HoleList RecordJsonParser::parseHoles(const QString &text)
{
    if (text.isEmpty())
        return HoleList();
    QByteArray spare;
    const std::string_view utf8 = utf8Of(text, threadParser().padded, spare);
    return parseHoles(utf8.data(), qsizetype(utf8.size()));
}

RecordJsonParser::ApeList RecordJsonParser::parseApes(const QString &text)
{
    if (text.isEmpty())
        return ApeList();
    QByteArray spare;
    const std::string_view utf8 = utf8Of(text, threadParser().padded, spare);
    return parseApes(utf8.data(), qsizetype(utf8.size()));
}

RecordJsonParser::HoleList RecordJsonParser::parseHoles(const char *utf8, qsizetype size)
{
    if (size <= 0)
        return HoleList();
    ThreadParser &tp = threadParser();
    element root;
    if (!parseFast(tp, utf8, size_t(size), root)) {
        ++tp.fallbacks;
        return parseHolesQt(QByteArray::fromRawData(utf8, int(size)));
    }
    return readItems<tlv::HoleInfo>(root, "value", [](tlv::HoleInfo &hole, element value) {
        hole.value = numberText(toDouble(value));
    });
}

RecordJsonParser::ApeList RecordJsonParser::parseApes(const char *utf8, qsizetype size)
{
    if (size <= 0)
        return ApeList();
    ThreadParser &tp = threadParser();
    element root;
    if (!parseFast(tp, utf8, size_t(size), root)) {
        ++tp.fallbacks;
        return parseApesQt(QByteArray::fromRawData(utf8, int(size)));
    }
    return readItems<tlv::ApeInfo>(root, "ngtypes", [](tlv::ApeInfo &ape, element types) {
        if (types.type() != element_type::ARRAY)
            return;
        const simdjson::dom::array array(types);
        ape.ngtypes.reserve(int(array.size()));
        for (element type : array)
            ape.ngtypes.append(toText(type));
    });
}

RecordJsonParser::HoleList RecordJsonParser::parseHolesQt(const QByteArray &utf8)
{
    HoleList holes;
    if (utf8.isEmpty())
        return holes;
    const QJsonArray array = topLevelArray(utf8);
    for (int i = 0; i < array.size(); ++i) {
        const QJsonObject object = array.at(i).toObject();
        if (!object.contains(QLatin1String("idx")) || !object.contains(QLatin1String("status"))
            || !object.contains(QLatin1String("position")) || !object.contains(QLatin1String("value")))
            continue;
        auto hole = std::make_shared<tlv::HoleInfo>();
        hole->idx = object.value(QLatin1String("idx")).toInt(0);
        hole->status = object.value(QLatin1String("status")).toBool(false);
        hole->position = QString::number(object.value(QLatin1String("position")).toDouble(0), 'g', 6);
        hole->value = QString::number(object.value(QLatin1String("value")).toDouble(0), 'g', 6);
        holes.append(hole);
    }
    return holes;
}

RecordJsonParser::ApeList RecordJsonParser::parseApesQt(const QByteArray &utf8)
{
    ApeList apes;
    if (utf8.isEmpty())
        return apes;
    const QJsonArray array = topLevelArray(utf8);
    for (int i = 0; i < array.size(); ++i) {
        const QJsonObject object = array.at(i).toObject();
        if (!object.contains(QLatin1String("idx")) || !object.contains(QLatin1String("status"))
            || !object.contains(QLatin1String("position")) || !object.contains(QLatin1String("ngtypes")))
            continue;
        auto ape = std::make_shared<tlv::ApeInfo>();
        ape->idx = object.value(QLatin1String("idx")).toInt(0);
        ape->status = object.value(QLatin1String("status")).toBool(false);
        ape->position = QString::number(object.value(QLatin1String("position")).toDouble(0), 'g', 6);
        const QJsonArray types = object.value(QLatin1String("ngtypes")).toArray();
        for (int k = 0; k < types.size(); ++k)
            ape->ngtypes.append(types.at(k).toString());
        apes.append(ape);
    }
    return apes;
}
