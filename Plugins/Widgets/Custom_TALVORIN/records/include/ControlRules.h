#pragma once

#include <cstdint>
#include <vector>

// Western Electric rules 1 to 4 on an individuals chart with centre line `centre` and spread
// `sigma`. A point is marked with the rules whose pattern it completes, and only when it is one
// of the points that make the pattern:
//   1: beyond 3σ;
//   2: two of three consecutive points beyond 2σ on the same side;
//   3: four of five consecutive points beyond 1σ on the same side;
//   4: eight consecutive points on the same side of the centre line.
// "Beyond" is strict; a point on the centre line is on neither side. Without a positive finite
// sigma nothing is marked.
class ControlRules
{
public:
    enum Rule : std::uint8_t { Beyond3 = 1, TwoOfThree = 2, FourOfFive = 4, EightOnOneSide = 8 };

    // One mask of Rule bits per value.
    static std::vector<std::uint8_t> breaks(const std::vector<double> &values, double centre, double sigma);
};
