#include "ControlRules.h"

#include <cmath>

namespace {

// Whether the `window` points ending at `last` hold at least `needed` beyond `zones` σ on the
// side of `side` (+1 or -1), the last point among them.
bool beyondOnSide(
    const std::vector<double> &z, size_t last, size_t window, int needed, double zones, int side)
{
    if (last + 1 < window || side * z[last] <= zones)
        return false;
    int count = 0;
    for (size_t i = last + 1 - window; i <= last; ++i)
        count += side * z[i] > zones ? 1 : 0;
    return count >= needed;
}

} // namespace

std::vector<std::uint8_t> ControlRules::breaks(const std::vector<double> &values, double centre, double sigma)
{
    std::vector<std::uint8_t> marks(values.size(), 0);
    if (!std::isfinite(sigma) || sigma <= 0.0 || !std::isfinite(centre))
        return marks;
    std::vector<double> z(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        z[i] = (values[i] - centre) / sigma;
    int run = 0; // consecutive points on one side, signed by the side
    for (size_t i = 0; i < values.size(); ++i) {
        std::uint8_t mark = 0;
        if (std::abs(z[i]) > 3.0)
            mark |= Beyond3;
        for (const int side : { 1, -1 }) {
            if (beyondOnSide(z, i, 3, 2, 2.0, side))
                mark |= TwoOfThree;
            if (beyondOnSide(z, i, 5, 4, 1.0, side))
                mark |= FourOfFive;
        }
        const int side = z[i] > 0.0 ? 1 : z[i] < 0.0 ? -1 : 0;
        run = side == 0 ? 0 : (run * side > 0 ? run + side : side);
        if (run >= 8 || run <= -8)
            mark |= EightOnOneSide;
        marks[i] = mark;
    }
    return marks;
}
