#include "ProcessStatistics.h"

#include <algorithm>
#include <cmath>

ProcessStatistics ProcessStatistics::of(const std::vector<double> &values)
{
    ProcessStatistics s;
    s.n = int(values.size());
    if (values.empty())
        return s;
    // Two passes: the deviations from the mean keep their digits where the values share many.
    double sum = 0.0;
    for (const double v : values)
        sum += v;
    s.mean = sum / double(values.size());
    if (values.size() < 2)
        return s;
    double squares = 0.0;
    double ranges = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
        const double d = values[i] - s.mean;
        squares += d * d;
        if (i > 0)
            ranges += std::abs(values[i] - values[i - 1]);
    }
    s.sigmaOverall = std::sqrt(squares / double(values.size() - 1));
    s.sigmaWithin = ranges / double(values.size() - 1) / d2;
    return s;
}

CapabilityIndices CapabilityIndices::of(const ProcessStatistics &s, const Tolerance &limits)
{
    CapabilityIndices c;
    const double width = limits.up - limits.low;
    const double nearest = std::min(limits.up - s.mean, s.mean - limits.low);
    c.cp = width / (6.0 * s.sigmaWithin);
    c.cpk = nearest / (3.0 * s.sigmaWithin);
    c.pp = width / (6.0 * s.sigmaOverall);
    c.ppk = nearest / (3.0 * s.sigmaOverall);
    return c;
}
