#pragma once

// The panel's in-memory result of one hole of the current product.
struct HoleEntry
{
    int idx = 0;
    bool status = false;
    double value = 0.0;
    float position = 0.0f;
};
