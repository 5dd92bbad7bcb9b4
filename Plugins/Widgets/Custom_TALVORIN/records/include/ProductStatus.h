#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

// The status column of a product: bit 1 set when every diameter is within its limits, bit 2 when
// the appearance is OK; 3 is an OK product. The panel stores 0 to 3, other codes are unknown.
class ProductStatus
{
public:
    static constexpr int DiametersOk = 1;
    static constexpr int AppearanceOk = 2;
    static constexpr int Ok = DiametersOk | AppearanceOk;

    static constexpr int of(bool diametersOk, bool appearanceOk)
    {
        return (diametersOk ? DiametersOk : 0) | (appearanceOk ? AppearanceOk : 0);
    }
    static constexpr bool isOk(int status) { return status == Ok; }
    static constexpr bool isKnown(int status) { return status >= 0 && status <= Ok; }
    // The code a stored number reads as: itself when it is a whole 32-bit number, otherwise
    // Unreadable (a wider integer or a fraction must never read as 3).
    static constexpr int Unreadable = -1;
    static int fromStored(qint64 value);
    static int fromStored(double value);

    // The failed parts ("尺寸NG", "外观NG") joined with `separator`; null for OK and unknown codes.
    static QString text(int status, QChar separator);
};
