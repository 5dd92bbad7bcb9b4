#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

// Rows of product_data_new as a query delivered them, kept until their records are built: the
// plain columns as the records take them, the two JSON columns as UTF-8 bytes still to parse.
// clear() keeps the capacity, so a chunk refilled for every batch allocates only at first.
class RowChunk
{
public:
    struct Row
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
    };

    int size() const { return m_size; }
    void clear();

    // A new last row; its two JSON texts follow through setDiameter() and setAppearance().
    Row &append();
    void setDiameter(Row &row, std::string_view utf8);
    void setAppearance(Row &row, std::string_view utf8);

    Row &row(int i) { return m_rows[size_t(i)]; }
    std::string_view diameter(const Row &row) const { return text(row.diameter, row.diameterSize); }
    std::string_view appearance(const Row &row) const { return text(row.appearance, row.appearanceSize); }

private:
    std::string_view text(size_t offset, size_t size) const
    {
        return std::string_view(m_bytes.data() + offset, size);
    }
    size_t store(std::string_view utf8);

    std::vector<Row> m_rows;
    std::string m_bytes;
    int m_size = 0;
};
