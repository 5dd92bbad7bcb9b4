#include "StoredHoles.h"

#include <simdjson.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

namespace {

namespace od = simdjson::ondemand;

// As the records read an index: whole numbers in int range, 0 otherwise (NaN too).
int toInt(double d)
{
    return d >= double(INT_MIN) && d <= double(INT_MAX) && double(int(d)) == d ? int(d) : 0;
}

// A number; NaN for any other type (a null is how a non-finite value is stored). Forced inline:
// called out of line, it costs the read half again.
simdjson_inline double numberOf(od::value &value)
{
    double number = std::numeric_limits<double>::quiet_NaN();
    const simdjson::error_code error = value.get_double().get(number);
    if (error && error != simdjson::INCORRECT_TYPE)
        throw simdjson::simdjson_error(error);
    return number;
}

// The items of one array that the records make holes of, appended to `holes`. Read on demand:
// the positions are never parsed, and the keys are compared as written (the panel writes none
// with escapes). Throws where the text turns out not to be JSON.
void readHoles(
    od::parser &parser, const char *data, size_t size, size_t capacity, std::vector<StoredHole> &holes)
{
    od::document document = parser.iterate(data, size, capacity);
    for (od::value item : document.get_array()) {
        if (item.type() != od::json_type::object)
            continue;
        // A repeated key takes its last value, as in the records.
        StoredHole hole;
        unsigned found = 0;
        for (od::field field : item.get_object()) {
            const od::raw_json_string key = field.key();
            if (key == "value") {
                hole.value = numberOf(field.value());
                found |= 8;
            } else if (key == "idx") {
                int64_t whole = 0;
                if (!field.value().get_int64().get(whole))
                    hole.idx = whole >= INT_MIN && whole <= INT_MAX ? int(whole) : 0;
                else
                    hole.idx = toInt(numberOf(field.value()));
                found |= 1;
            } else if (key == "status") {
                bool on = false;
                hole.status = !field.value().get_bool().get(on) && on;
                found |= 2;
            } else if (key == "position") {
                found |= 4;
            }
        }
        if (found == 15)
            holes.push_back(hole);
    }
}

} // namespace

struct StoredHoles::Parser
{
    od::parser parser;
    std::vector<char> padded;
};

StoredHoles::StoredHoles()
    : m_parser(std::make_unique<Parser>())
{
}

StoredHoles::~StoredHoles() = default;

bool StoredHoles::add(qint64 id, const char *utf8, size_t size)
{
    std::vector<char> &padded = m_parser->padded;
    if (padded.size() < size + simdjson::SIMDJSON_PADDING)
        padded.resize(size + simdjson::SIMDJSON_PADDING + size / 2);
    std::memcpy(padded.data(), utf8, size);
    const size_t kept = m_holes.size();
    try {
        readHoles(m_parser->parser, padded.data(), size, padded.size(), m_holes);
    } catch (const simdjson::simdjson_error &) {
        m_holes.resize(kept);
        return false;
    }
    m_ids.push_back(id);
    m_ends.push_back(m_holes.size());
    return true;
}

void StoredHoles::clear()
{
    m_ids.clear();
    m_ends.clear();
    m_holes.clear();
}

bool StoredHoles::find(qint64 id, const StoredHole *&first, const StoredHole *&last) const
{
    const auto it = std::lower_bound(m_ids.cbegin(), m_ids.cend(), id);
    if (it == m_ids.cend() || *it != id)
        return false;
    const size_t at = size_t(it - m_ids.cbegin());
    first = m_holes.data() + (at == 0 ? 0 : m_ends[at - 1]);
    last = m_holes.data() + m_ends[at];
    return true;
}
