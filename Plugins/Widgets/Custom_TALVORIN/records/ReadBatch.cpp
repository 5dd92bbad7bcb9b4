#include "ReadBatch.h"

void ReadBatch::clear()
{
    m_size = 0;
    m_bytes.clear();
}

ReadRow &ReadBatch::append()
{
    if (size_t(m_size) == m_rows.size())
        m_rows.emplace_back();
    Row &row = m_rows[size_t(m_size++)];
    row = Row();
    return row;
}

void ReadBatch::setDiameter(Row &row, std::string_view utf8)
{
    row.diameter = store(utf8);
    row.diameterSize = utf8.size();
}

void ReadBatch::setAppearance(Row &row, std::string_view utf8)
{
    row.appearance = store(utf8);
    row.appearanceSize = utf8.size();
}

size_t ReadBatch::store(std::string_view utf8)
{
    const size_t offset = m_bytes.size();
    m_bytes.append(utf8);
    return offset;
}
