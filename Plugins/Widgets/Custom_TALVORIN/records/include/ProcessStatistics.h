#pragma once

#include "Tolerance.h"

#include <limits>
#include <vector>

// Location and spread of one characteristic's values in the order they were made. σ within is
// the average moving range of consecutive values over d2 = 1.128, σ overall the sample standard
// deviation (n - 1). What a series is too short for stays NaN.
struct ProcessStatistics
{
    static constexpr double d2 = 1.128;

    int n = 0;
    double mean = std::numeric_limits<double>::quiet_NaN();
    double sigmaWithin = std::numeric_limits<double>::quiet_NaN();
    double sigmaOverall = std::numeric_limits<double>::quiet_NaN();

    // `values` holds finite values only.
    static ProcessStatistics of(const std::vector<double> &values);
};

// Cp and Cpk with σ within, Pp and Ppk with σ overall; NaN or infinite where a σ is missing or 0.
struct CapabilityIndices
{
    double cp = std::numeric_limits<double>::quiet_NaN();
    double cpk = std::numeric_limits<double>::quiet_NaN();
    double pp = std::numeric_limits<double>::quiet_NaN();
    double ppk = std::numeric_limits<double>::quiet_NaN();

    static CapabilityIndices of(const ProcessStatistics &statistics, const Tolerance &limits);
};
