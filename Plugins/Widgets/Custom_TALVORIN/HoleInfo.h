#pragma once

#include <QString>

namespace tlv {

// One measured hole of a stored product (an element of the "diameter" column).
struct HoleInfo
{
    int idx = 0;
    bool status = false;
    QString position;
    QString value;
};

} // namespace tlv
