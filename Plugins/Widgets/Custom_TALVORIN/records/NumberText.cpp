#include "NumberText.h"

#include "TextPool.h"

#include <QtAlgorithms>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const uint64_t kPow10[] = { 1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000,
    10000000000, 100000000000, 1000000000000, 10000000000000 };

// The key of six digits (100000 to 999999) with decimal exponent x in [-4, 5].
quint32 packKey(uint64_t digits, int x, bool negative)
{
    Q_ASSERT(digits >= 100000 && digits < 1000000 && x >= -4 && x <= 5);
    return quint32(digits) | quint32(x + 4) << 20 | quint32(negative) << 24;
}

// Six significant digits of a in [1e-4, 1e6) in integers, rounded as Qt rounds (ties away
// from zero): a = m * 2^e, so the digits are m * 10^(5-x) / 2^-e for the decimal exponent x,
// and the remainder decides the rounding. The texts of a report's numbers nearly all lie
// here, and this is several times faster than std::to_chars with a precision.
bool sixDigits(double a, uint64_t &digits, int &x)
{
#ifdef __SIZEOF_INT128__
    using u128 = unsigned __int128;
    if (!(a >= 1e-4 && a < 1e6))
        return false;
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    const int shift = 1075 - int((bits >> 52) & 0x7ff); // a = m / 2^shift, 33 <= shift <= 66
    x = int(std::floor((52 - shift) * 0.30102999566398120));
    for (int attempt = 0; attempt < 3 && x >= -4 && x <= 5; ++attempt) {
        const u128 scaled = u128(m) * kPow10[5 - x];
        uint64_t q = uint64_t(scaled >> shift);
        if (q >= 1000000 || q < 100000) {
            x += q >= 1000000 ? 1 : -1;
            continue;
        }
        if ((scaled & ((u128(1) << shift) - 1)) >= (u128(1) << (shift - 1)) && ++q == 1000000) {
            q = 100000;
            ++x;
        }
        digits = q;
        return x <= 5;
    }
    return false;
#else
    Q_UNUSED(a)
    Q_UNUSED(digits)
    Q_UNUSED(x)
    return false;
#endif
}

// The 'g' text of six digits with decimal exponent x in [-4, 5]: fixed notation, no trailing zeros.
int fixedText(bool negative, uint64_t digits, int x, char *text)
{
    char d[6];
    for (int i = 5; i >= 0; --i, digits /= 10)
        d[i] = char('0' + digits % 10);
    int count = 6;
    while (count > 1 && d[count - 1] == '0')
        --count;
    int n = 0;
    if (negative)
        text[n++] = '-';
    if (x < 0) {
        text[n++] = '0';
        text[n++] = '.';
        for (int i = 0; i < -x - 1; ++i)
            text[n++] = '0';
    }
    for (int i = 0; i < count || i <= x; ++i) {
        if (i == x + 1 && x >= 0)
            text[n++] = '.';
        text[n++] = i < count ? d[i] : '0';
    }
    return n;
}

} // namespace

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

bool NumberText::key(double v, quint32 &key)
{
    if (v == 0.0 && !std::signbit(v)) {
        key = 0;
        return true;
    }
    uint64_t digits = 0;
    int x = 0;
    if (!sixDigits(std::fabs(v), digits, x))
        return false;
    key = packKey(digits, x, std::signbit(v));
    return true;
}

bool NumberText::keyOfDecimal(quint64 digits, int count, int exp10, bool negative, quint32 &key)
{
    if (digits == 0 || count < 1 || count > 19)
        return false;
    int x = count - 1 + exp10;
    if (x < -4 || x > 5)
        return false;
    quint64 q = digits;
    if (count < 6) {
        // Exactly six digits: the double is far closer to them than half their last unit.
        q *= kPow10[6 - count];
    } else if (count > 6) {
        const quint64 unit = kPow10[count - 6];
        q = digits / unit;
        const quint64 rest = digits - q * unit;
        const quint64 half = unit / 2;
        // The double lies within 2^-52 of the decimal, i.e. within digits / 2^52 of its last
        // digit: twice that, and one more, keeps it on the decimal's side of the tie.
        const quint64 margin = (digits >> 51) + 2;
        if (rest >= half + margin)
            ++q;
        else if (rest + margin >= half)
            return false;
        if (q == 1000000) {
            q = 100000;
            if (++x > 5)
                return false;
        }
    }
    key = packKey(q, x, negative);
    return true;
}

int NumberText::keyText(quint32 key, char *text)
{
    if (key == 0) {
        text[0] = '0';
        return 1;
    }
    return fixedText(key >> 24, key & 0xfffff, int((key >> 20) & 0xf) - 4, text);
}

int NumberText::toChars(double v, char *text)
{
    quint32 k = 0;
    if (key(v, k))
        return keyText(k, text);
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
