#include "NumberText.h"

#include "TextPool.h"

#include <QtAlgorithms>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

bool NumberText::isTie(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = int((bits >> 52) & 0x7ff);
    uint64_t m = bits & ((uint64_t(1) << 52) - 1);
    int e = -1074;
    if (biased != 0) {
        m |= uint64_t(1) << 52;
        e = biased - 1075;
    }
    if (m == 0)
        return false;
    const int zeros = int(qCountTrailingZeroBits(quint64(m)));
    m >>= zeros;
    e += zeros; // |v| = m * 2^e, m odd
    // A tie is |v| = n/2 * 10^-j with n odd and 2*10^5 <= n < 2*10^6 (six digits, then a 5).
    // n = 2|v| * 10^j = m * 2^(e+1+j) * 5^j is odd only for j = -1 - e.
    const int j = -1 - e;
    uint64_t n = m;
    for (int k = 0; k < j; ++k) {
        if (n >= 2000000)
            return false;
        n *= 5;
    }
    for (int k = 0; k < -j; ++k) {
        if (n % 5 != 0)
            return false;
        n /= 5;
    }
    return n >= 200000 && n < 2000000;
}

int NumberText::toChars(double v, char *text)
{
    if (v == 0.0 && !std::signbit(v)) {
        text[0] = '0';
        return 1;
    }
    if (v == 0.0 || !std::isfinite(v) || isTie(v))
        return 0;
    return int(std::to_chars(text, text + 32, v, std::chars_format::general, 6).ptr - text);
}

QString NumberText::of(double v, TextPool *pool)
{
    char text[32];
    const int size = toChars(v, text);
    if (size == 0)
        return QString::number(v, 'g', 6);
    return pool ? pool->get(text, size) : QString::fromLatin1(text, size);
}
