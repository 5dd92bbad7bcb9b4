#pragma once

#include <QString>

#include <memory>

class TextPool;

// Equal texts read from many rows (the barcodes of one order) handed out as one shared QString,
// which spares an allocation and its memory per row. Holds its texts until destroyed.
class TextShare
{
public:
    TextShare();
    ~TextShare();
    TextShare(const TextShare &) = delete;
    TextShare &operator=(const TextShare &) = delete;

    // QString::fromUtf8(utf8, size), shared with every earlier equal text.
    QString get(const char *utf8, int size);

private:
    std::unique_ptr<TextPool> m_pool;
};
