#pragma once

// The inclusive limits of one measured value. A NaN value or limit fails both comparisons and so
// is never accepted. Header-only so that any target (the station host among them) can judge alike.
struct Tolerance
{
    double low = 0.0;
    double up = 0.0;

    constexpr bool accepts(double value) const { return value >= low && up >= value; }
};
