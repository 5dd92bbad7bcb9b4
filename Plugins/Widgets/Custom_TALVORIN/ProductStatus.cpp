#include "ProductStatus.h"

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
