#include "ProductStatus.h"

#include <limits>

namespace {

struct Part
{
    int bit;
    const char16_t *ngText;
};

constexpr Part kParts[] = {
    { ProductStatus::DiametersOk, u"尺寸NG" },
    { ProductStatus::AppearanceOk, u"外观NG" },
};

} // namespace

QString ProductStatus::text(int status, QChar separator)
{
    QString text;
    if (!isKnown(status))
        return text;
    for (const Part &part : kParts) {
        if (status & part.bit)
            continue;
        if (!text.isEmpty())
            text += separator;
        text += QString::fromUtf16(part.ngText);
    }
    return text;
}

int ProductStatus::fromStored(qint64 value)
{
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return Unreadable;
    return int(value);
}

int ProductStatus::fromStored(double value)
{
    // Compared as doubles, so a NaN or a value beyond the range fails here.
    if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()))
        return Unreadable;
    const int whole = int(value);
    return double(whole) == value ? whole : Unreadable;
}
