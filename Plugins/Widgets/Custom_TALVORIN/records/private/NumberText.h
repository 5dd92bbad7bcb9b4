#pragma once

#include <QString>

class TextPool;

// The number texts of the report's records: the text that QString::number(v, 'g', 6) gives,
// made by std::to_chars. The two round exact decimal ties differently (Qt away from zero,
// to_chars to even), so ties go to Qt; so do zeros and values that are not finite.
class NumberText
{
public:
    // With a pool, equal texts are shared.
    static QString of(double v, TextPool *pool = nullptr);
    // The text into `text` (32 chars), its length; 0 when only QString::number can tell.
    static int toChars(double v, char *text);

    // The sign, decimal exponent and six digits that alone decide the text of most numbers,
    // packed into one integer; false when v's text takes another route.
    static bool key(double v, quint32 &key);
    // key() of the double nearest to the decimal `digits` * 10^exp10, where `digits` has `count`
    // digits without leading zeros, decided on the decimal alone; false where it cannot be
    // (near a rounding tie, outside key()'s range), and the double has to be read.
    static bool keyOfDecimal(quint64 digits, int count, int exp10, bool negative, quint32 &key);
    // The text of a key, its length.
    static int keyText(quint32 key, char *text);

    // True when |v| lies exactly halfway between two neighbouring 6-significant-digit decimals.
    static bool isTie(double v);
};
