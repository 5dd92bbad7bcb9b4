#include "TextShare.h"

#include "TextPool.h"

TextShare::TextShare()
    : m_pool(std::make_unique<TextPool>())
{
}

TextShare::~TextShare() = default;

QString TextShare::get(const char *utf8, int size)
{
    return m_pool->get(utf8, size);
}
