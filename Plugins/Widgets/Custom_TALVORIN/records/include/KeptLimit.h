#pragma once

#include "Tolerance.h"

#include <QString>

// The limits a characteristic was judged against from one product on: they stay in force for
// every later product until a newer entry of the same characteristic starts.
struct KeptLimit
{
    QString characteristic;
    qint64 fromId = 0; // the id of the first product judged against them
    Tolerance limits;

    // A hole is known by its index in the product's diameter list, a size by its own name.
    static QString holeName(int idx) { return QStringLiteral("孔%1").arg(idx); }
};
