#include "CapabilityStudy.h"

#include <QHash>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <system_error>
#include <thread>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kDirectHoles = 1024;
// Below this many products a second thread costs more than it saves.
constexpr int kShareFrom = 5000;
// Products whose stored holes are read at a time.
constexpr std::ptrdiff_t kReadShare = 4096;

// A value text as the records hold it; NaN when it is not a number.
double numberOf(const QChar *chars, int size)
{
    char bytes[64];
    if (size == 0 || size >= int(sizeof bytes))
        return kNaN;
    for (int i = 0; i < size; ++i) {
        const ushort c = chars[i].unicode();
        if (c > 127)
            return kNaN;
        bytes[i] = char(c);
    }
    double value = kNaN;
    const std::from_chars_result read = std::from_chars(bytes, bytes + size, value);
    return read.ec == std::errc() && read.ptr == bytes + size ? value : kNaN;
}

bool sameLimits(const Tolerance &a, const Tolerance &b)
{
    const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
    return same(a.low, b.low) && same(a.up, b.up);
}

// One characteristic being gathered: its entries of kept limits in id order and the one in
// force for the product at hand (products come in id order, so the cursor only moves on).
struct Gathering
{
    CharacteristicCapability result;
    std::vector<KeptLimit> kept;
    size_t next = 0; // the first entry not yet in force
    bool anyKnown = false; // some product of the range had kept limits

    const Tolerance *inForce(qint64 id)
    {
        while (next < kept.size() && kept[next].fromId <= id)
            ++next;
        return next == 0 ? nullptr : &kept[next - 1].limits;
    }
    void add(qint64 id, double value, bool ng)
    {
        const Tolerance *limits = inForce(id);
        if (limits)
            anyKnown = true;
        if (!limits || !result.hasLimits || !sameLimits(*limits, result.limits))
            result.limitsChanged = true;
        if (std::isfinite(value))
            result.values.push_back(value);
        if (ng)
            ++result.ngCount;
    }
};

// The records share one text per distinct number, so most values are found by the address of
// their text instead of being read again. Slots are overwritten on collision.
class NumberCache
{
public:
    double number(const QString &text)
    {
        const auto address = reinterpret_cast<quintptr>(text.constData());
        Slot &slot = m_slots[(address >> 3) * 0x9E3779B97F4A7C15ull >> (64 - kBits)];
        // The address alone could be a freed text's reused; the size is checked as a cheap guard,
        // and the records (and so their texts) outlive the study.
        if (slot.address != address || slot.size != text.size()) {
            slot.address = address;
            slot.size = text.size();
            slot.value = CapabilityStudy::number(text);
        }
        return slot.value;
    }

private:
    static constexpr int kBits = 14;
    struct Slot
    {
        quintptr address = 0;
        int size = -1;
        double value = 0.0;
    };
    std::vector<Slot> m_slots = std::vector<Slot>(size_t(1) << kBits);
};

class Gatherer
{
public:
    // `limits` sorted by characteristic and id; room for `expected` values of each
    // characteristic.
    Gatherer(const QVector<KeptLimit> &limits, qint64 lastId, int expected)
        : m_limits(limits)
        , m_lastId(lastId)
        , m_expected(size_t(expected))
    {
    }

    // The products from `begin` to `end`, in id order; their holes from `source` where it has
    // them.
    void gather(const std::shared_ptr<tlv::ProductInfo> *begin, const std::shared_ptr<tlv::ProductInfo> *end,
        const CapabilityStudy::HoleSource &source);
    // The same with the stored holes at hand, where there are any.
    void gatherShare(const std::shared_ptr<tlv::ProductInfo> *begin,
        const std::shared_ptr<tlv::ProductInfo> *end, const StoredHoles *stored);
    // Products studied from their records' texts although a source was given.
    int fromTexts() const { return m_fromTexts; }

    // Appends what `later` gathered over the products after this one's.
    void append(Gatherer &later)
    {
        for (Gathering &g : later.m_all) {
            Gathering &mine = g.result.hole >= 0 ? hole(g.result.hole) : size(QStringRef(&g.result.name));
            mine.result.values.insert(
                mine.result.values.end(), g.result.values.cbegin(), g.result.values.cend());
            mine.result.ngCount += g.result.ngCount;
            mine.result.limitsChanged = mine.result.limitsChanged || g.result.limitsChanged;
            mine.anyKnown = mine.anyKnown || g.anyKnown;
        }
    }

    Gathering &hole(int idx)
    {
        // An index far beyond any line's holes is not worth a slot for every index below it.
        if (idx >= kDirectHoles) {
            auto it = m_farHoles.find(idx);
            if (it == m_farHoles.end())
                it = m_farHoles.insert(idx, create(KeptLimit::holeName(idx), idx));
            return m_all[size_t(it.value())];
        }
        if (idx >= int(m_holes.size()))
            m_holes.resize(size_t(idx) + 1, -1);
        int &slot = m_holes[size_t(idx)];
        if (slot < 0)
            slot = create(KeptLimit::holeName(idx), idx);
        return m_all[size_t(slot)];
    }
    Gathering &size(const QStringRef &name)
    {
        for (const auto &known : m_sizes) {
            if (known.first == name)
                return m_all[size_t(known.second)];
        }
        const int slot = create(name.toString(), -1);
        m_sizes.emplace_back(m_all[size_t(slot)].result.name, slot);
        return m_all[size_t(slot)];
    }
    std::vector<Gathering> &all() { return m_all; }

private:
    int create(const QString &name, int hole)
    {
        Gathering g;
        g.result.name = name;
        g.result.hole = hole;
        const auto range = std::equal_range(m_limits.cbegin(), m_limits.cend(), name,
            [](const auto &a, const auto &b) { return key(a) < key(b); });
        g.kept.assign(range.first, range.second);
        // The limits in force for the range's last product.
        for (const KeptLimit &entry : g.kept) {
            if (entry.fromId <= m_lastId) {
                g.result.hasLimits = true;
                g.result.limits = entry.limits;
            }
        }
        g.result.ngCount = 0;
        g.result.values.reserve(m_expected);
        m_all.push_back(std::move(g));
        return int(m_all.size()) - 1;
    }
    static const QString &key(const KeptLimit &entry) { return entry.characteristic; }
    static const QString &key(const QString &name) { return name; }

    const QVector<KeptLimit> &m_limits;
    qint64 m_lastId;
    size_t m_expected;
    NumberCache m_numbers;
    int m_fromTexts = 0;
    std::vector<Gathering> m_all;
    std::vector<int> m_holes;
    QHash<int, int> m_farHoles;
    std::vector<std::pair<QString, int>> m_sizes;
};

void addSizes(Gatherer &gatherer, const tlv::ProductInfo &product)
{
    // "name:value;name:value", the value after the name's last colon; walked in place, without a
    // list of parts and a text per value for every product.
    const QString &text = product.psize;
    for (int start = 0; start < text.size();) {
        int end = text.indexOf(QLatin1Char(';'), start);
        if (end < 0)
            end = text.size();
        const QStringRef item = text.midRef(start, end - start);
        start = end + 1;
        const int colon = item.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const double value = numberOf(item.constData() + colon + 1, item.size() - colon - 1);
        Gathering &g = gatherer.size(item.left(colon));
        const Tolerance *limits = g.inForce(product.id);
        g.add(product.id, value, limits && !limits->accepts(value));
    }
}

void Gatherer::gather(const std::shared_ptr<tlv::ProductInfo> *begin,
    const std::shared_ptr<tlv::ProductInfo> *end, const CapabilityStudy::HoleSource &source)
{
    if (!source) {
        gatherShare(begin, end, nullptr);
        return;
    }
    // A share of products at a time, so that their stored holes are gathered while still in
    // the cache.
    StoredHoles stored;
    std::vector<qint64> ids;
    while (begin != end) {
        const std::shared_ptr<tlv::ProductInfo> *next = begin + std::min(kReadShare, end - begin);
        ids.clear();
        for (const std::shared_ptr<tlv::ProductInfo> *it = begin; it != next; ++it) {
            if (ids.empty() || ids.back() != (*it)->id)
                ids.push_back((*it)->id);
        }
        stored.clear();
        source(ids, stored);
        gatherShare(begin, next, &stored);
        begin = next;
    }
}

void Gatherer::gatherShare(const std::shared_ptr<tlv::ProductInfo> *begin,
    const std::shared_ptr<tlv::ProductInfo> *end, const StoredHoles *stored)
{
    for (const std::shared_ptr<tlv::ProductInfo> *it = begin; it != end; ++it) {
        const tlv::ProductInfo &product = **it;
        const StoredHole *first = nullptr;
        const StoredHole *last = nullptr;
        if (stored && stored->find(product.id, first, last)) {
            for (const StoredHole *h = first; h != last; ++h) {
                if (h->idx >= 0)
                    hole(h->idx).add(product.id, h->value, !h->status);
            }
        } else {
            m_fromTexts += stored ? 1 : 0;
            for (const std::shared_ptr<tlv::HoleInfo> &hole : product.vtHoles) {
                if (hole && hole->idx >= 0)
                    this->hole(hole->idx).add(product.id, m_numbers.number(hole->value), !hole->status);
            }
        }
        addSizes(*this, product);
    }
}

} // namespace

double CapabilityStudy::number(const QString &text)
{
    return numberOf(text.constData(), text.size());
}

QVector<CharacteristicCapability> CapabilityStudy::run(
    const Products &products, QVector<KeptLimit> limits, const HoleSource &source, int *fromTexts)
{
    Products ordered;
    ordered.reserve(products.size());
    for (const std::shared_ptr<tlv::ProductInfo> &product : products) {
        if (product)
            ordered.append(product);
    }
    const auto byId = [](const std::shared_ptr<tlv::ProductInfo> &a,
                          const std::shared_ptr<tlv::ProductInfo> &b) { return a->id < b->id; };
    if (!std::is_sorted(ordered.cbegin(), ordered.cend(), byId))
        std::stable_sort(ordered.begin(), ordered.end(), byId);

    std::stable_sort(limits.begin(), limits.end(), [](const KeptLimit &a, const KeptLimit &b) {
        return a.characteristic != b.characteristic ? a.characteristic < b.characteristic
                                                    : a.fromId < b.fromId;
    });
    // Two halves on two threads, the later one appended to the earlier.
    const qint64 lastId = ordered.isEmpty() ? 0 : ordered.constLast()->id;
    Gatherer gatherer(limits, lastId, ordered.size());
    Gatherer later(limits, lastId, ordered.size() - ordered.size() / 2);
    const std::shared_ptr<tlv::ProductInfo> *first = ordered.constData();
    const std::shared_ptr<tlv::ProductInfo> *middle = first + ordered.size() / 2;
    const std::shared_ptr<tlv::ProductInfo> *end = first + ordered.size();
    std::thread helper;
    if (ordered.size() >= kShareFrom) {
        try {
            helper = std::thread([&] { later.gather(middle, end, source); });
        } catch (const std::system_error &) {
            // No second thread: this one takes both halves.
        }
    }
    if (helper.joinable()) {
        gatherer.gather(first, middle, source);
        helper.join();
        gatherer.append(later);
    } else {
        gatherer.gather(first, end, source);
    }
    if (fromTexts)
        *fromTexts = gatherer.fromTexts() + later.fromTexts();

    QVector<CharacteristicCapability> results;
    results.reserve(int(gatherer.all().size()));
    for (Gathering &g : gatherer.all()) {
        CharacteristicCapability &c = g.result;
        c.statistics = ProcessStatistics::of(c.values);
        if (c.hasLimits)
            c.indices = CapabilityIndices::of(c.statistics, c.limits);
        else
            c.limitsChanged = c.limitsChanged && g.anyKnown;
        if (c.hole < 0 && !g.anyKnown)
            c.ngCount = -1;
        results.append(std::move(c));
    }
    std::sort(results.begin(), results.end(),
        [](const CharacteristicCapability &a, const CharacteristicCapability &b) {
            const bool aCpk = std::isfinite(a.indices.cpk);
            const bool bCpk = std::isfinite(b.indices.cpk);
            if (aCpk != bCpk)
                return aCpk;
            if (aCpk && a.indices.cpk != b.indices.cpk)
                return a.indices.cpk < b.indices.cpk;
            if ((a.hole < 0) != (b.hole < 0))
                return a.hole >= 0;
            return a.hole >= 0 ? a.hole < b.hole : a.name < b.name;
        });
    return results;
}
