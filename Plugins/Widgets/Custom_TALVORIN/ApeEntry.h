#pragma once

#include <QStringList>

// The panel's in-memory appearance result of the current product.
struct ApeEntry
{
    int idx = 0;
    bool status = false;
    QStringList ngtypes;
    float position = 0.0f;
};
