#pragma once

#include <QString>
#include <QStringList>

namespace tlv {

// One appearance finding of a stored product (an element of the "appearance" column).
struct ApeInfo
{
    int idx = 0;
    bool status = false;
    QString position;
    QStringList ngtypes;
};

} // namespace tlv
