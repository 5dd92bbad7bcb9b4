#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

// One hole of a stored product as its row holds it: the value at full precision (the records
// keep its text to 6 significant digits), NaN where the row holds no number.
struct StoredHole
{
    int idx = 0;
    bool status = false;
    double value = 0.0;
};

// The holes of stored products read from their "diameter" texts, by product id. An item counts
// as a hole where the records' reader makes one of it (it has idx, status, position and value).
class StoredHoles
{
public:
    StoredHoles();
    ~StoredHoles();
    StoredHoles(const StoredHoles &) = delete;
    StoredHoles &operator=(const StoredHoles &) = delete;

    // The holes of product `id` from its UTF-8 text; ids come in ascending order. False, with
    // nothing kept for the product, when the text is not a JSON array.
    bool add(qint64 id, const char *utf8, size_t size);
    // The holes kept for `id` as [first, last); false when none were kept for it.
    bool find(qint64 id, const StoredHole *&first, const StoredHole *&last) const;
    size_t products() const { return m_ids.size(); }
    // Forgets every product, keeping the room.
    void clear();

private:
    struct Parser;
    std::unique_ptr<Parser> m_parser;
    std::vector<qint64> m_ids;
    std::vector<size_t> m_ends; // one past each product's last hole in m_holes
    std::vector<StoredHole> m_holes;
};
