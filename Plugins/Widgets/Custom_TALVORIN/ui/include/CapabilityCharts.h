#pragma once

#include "CapabilityStudy.h"
#include "DefectPareto.h"

#include <QVector>

namespace QtCharts {
class QChart;
}

// The three charts of the capability view, each drawn afresh into its chart (the old series
// and axes go).
class CapabilityCharts
{
public:
    // The individuals chart shows at most this many of the latest values; its lines are those of
    // the whole range.
    static constexpr int maxPoints = 1500;

    // Values in the order the products were stored, the mean, mean ± 3σ within, the limits, and
    // the points that break a Western Electric rule in red.
    static void individuals(QtCharts::QChart *chart, const CharacteristicCapability &c);
    // How the values spread, against the limits.
    static void histogram(QtCharts::QChart *chart, const CharacteristicCapability &c);
    // The defect causes, most frequent first, with the cumulative share in percent.
    static void pareto(QtCharts::QChart *chart, const QVector<DefectPareto::Cause> &causes);

    static void clear(QtCharts::QChart *chart);
};
