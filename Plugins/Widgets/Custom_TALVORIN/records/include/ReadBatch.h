#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

// One row of product_data_new as a query read it, before its record is built: the plain
// columns as the record takes them, the two JSON columns as offsets into its batch's bytes.
struct ReadRow
{
    QString uptime;
    int pid = 0;
    QString barcode;
    QString psize;
    int status = 0;
    size_t diameter = 0;
    size_t diameterSize = 0;
    size_t appearance = 0;
    size_t appearanceSize = 0;
    qint64 id = 0;
};

// The rows of one batch as a query read them, kept until their records are built; the two JSON
// columns as UTF-8 bytes still to read. clear() keeps the capacity, so a batch refilled for
// every delivery allocates only at first.
class ReadBatch
{
public:
    using Row = ReadRow;

    int size() const { return m_size; }
    void clear();

    // A new last row; its two JSON texts follow through setDiameter() and setAppearance().
    Row &append();
    void setDiameter(Row &row, std::string_view utf8);
    void setAppearance(Row &row, std::string_view utf8);

    Row &row(int i)
    {
        Q_ASSERT(i >= 0 && i < m_size);
        return m_rows[size_t(i)];
    }
    std::string_view diameter(const Row &row) const { return text(row.diameter, row.diameterSize); }
    std::string_view appearance(const Row &row) const { return text(row.appearance, row.appearanceSize); }

private:
    std::string_view text(size_t offset, size_t size) const
    {
        Q_ASSERT(offset <= m_bytes.size() && size <= m_bytes.size() - offset);
        return std::string_view(m_bytes.data() + offset, size);
    }
    size_t store(std::string_view utf8);

    std::vector<Row> m_rows;
    std::string m_bytes;
    int m_size = 0;
};
