#include "CapabilityCharts.h"

#include "ControlRules.h"

#include <QFont>
#include <QPen>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

QT_CHARTS_USE_NAMESPACE

namespace {

const QFont &chartFont()
{
    static const QFont font(QStringLiteral("Arial"), 10);
    return font;
}

QValueAxis *valueAxis(QChart *chart, Qt::Alignment side, double low, double high)
{
    auto *axis = new QValueAxis();
    axis->setLabelsFont(chartFont());
    if (!(high > low)) {
        low -= 1.0;
        high += 1.0;
    }
    axis->setRange(low, high);
    chart->addAxis(axis, side);
    return axis;
}

// A straight line from (x0, y0) to (x1, y1), named for the legend.
QLineSeries *line(QChart *chart, const QString &name, const QColor &colour, Qt::PenStyle style, double x0,
    double y0, double x1, double y1)
{
    auto *series = new QLineSeries();
    series->setName(name);
    series->append(x0, y0);
    series->append(x1, y1);
    series->setPen(QPen(colour, 1.5, style));
    chart->addSeries(series);
    return series;
}

void attach(QAbstractSeries *series, QAbstractAxis *x, QAbstractAxis *y)
{
    series->attachAxis(x);
    series->attachAxis(y);
}

} // namespace

void CapabilityCharts::clear(QChart *chart)
{
    const QList<QAbstractSeries *> oldSeries = chart->series();
    for (QAbstractSeries *series : oldSeries) {
        chart->removeSeries(series);
        delete series;
    }
    const QList<QAbstractAxis *> oldAxes = chart->axes();
    for (QAbstractAxis *axis : oldAxes) {
        chart->removeAxis(axis);
        delete axis;
    }
}

void CapabilityCharts::individuals(QChart *chart, const CharacteristicCapability &c)
{
    clear(chart);
    const std::vector<double> &values = c.values;
    if (values.empty())
        return;
    const double mean = c.statistics.mean;
    const double sigma = c.statistics.sigmaWithin;
    const std::vector<std::uint8_t> marks = ControlRules::breaks(values, mean, sigma);
    const size_t first = values.size() > size_t(maxPoints) ? values.size() - size_t(maxPoints) : 0;

    auto *points = new QLineSeries();
    points->setName(QStringLiteral("测量值"));
    points->setPen(QPen(QColor(70, 130, 180), 1.0));
    auto *breaks = new QScatterSeries();
    breaks->setName(QStringLiteral("失控点"));
    breaks->setColor(QColor(QStringLiteral("#F56C6C")));
    breaks->setBorderColor(QColor(QStringLiteral("#F56C6C")));
    breaks->setMarkerSize(7.0);
    QVector<QPointF> line_;
    line_.reserve(int(values.size() - first));
    double low = values[first];
    double high = values[first];
    for (size_t i = first; i < values.size(); ++i) {
        const QPointF point(double(i + 1), values[i]);
        line_.append(point);
        if (marks[i])
            breaks->append(point);
        low = std::min(low, values[i]);
        high = std::max(high, values[i]);
    }
    points->replace(line_);
    chart->addSeries(points);
    chart->addSeries(breaks);

    const double x0 = double(first + 1);
    const double x1 = double(values.size());
    QList<QLineSeries *> lines { line(chart, QStringLiteral("均值"), QColor(QStringLiteral("#67C23A")),
        Qt::SolidLine, x0, mean, x1, mean) };
    const auto include = [&](double y) {
        low = std::min(low, y);
        high = std::max(high, y);
    };
    if (std::isfinite(sigma)) {
        const QColor colour(QStringLiteral("#E6A23C"));
        lines << line(
            chart, QStringLiteral("±3σ"), colour, Qt::DashLine, x0, mean + 3 * sigma, x1, mean + 3 * sigma);
        QLineSeries *lower
            = line(chart, QString(), colour, Qt::DashLine, x0, mean - 3 * sigma, x1, mean - 3 * sigma);
        lines << lower;
        include(mean + 3 * sigma);
        include(mean - 3 * sigma);
    }
    if (c.hasLimits) {
        const QColor colour(QStringLiteral("#F56C6C"));
        for (const double y : { c.limits.low, c.limits.up }) {
            if (!std::isfinite(y))
                continue;
            lines << line(chart, y == c.limits.low ? QStringLiteral("下限") : QStringLiteral("上限"), colour,
                Qt::SolidLine, x0, y, x1, y);
            include(y);
        }
    }
    const double pad = (high - low) * 0.05;
    QValueAxis *x = valueAxis(chart, Qt::AlignBottom, x0, std::max(x1, x0 + 1.0));
    x->setLabelFormat(QStringLiteral("%d"));
    QValueAxis *y = valueAxis(chart, Qt::AlignLeft, low - pad, high + pad);
    attach(points, x, y);
    attach(breaks, x, y);
    for (QLineSeries *series : qAsConst(lines))
        attach(series, x, y);
    for (QLegendMarker *marker : chart->legend()->markers()) {
        if (marker->label().isEmpty())
            marker->setVisible(false);
    }
    chart->legend()->setFont(chartFont());
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setTitle(values.size() > size_t(maxPoints)
            ? QStringLiteral("%1 单值图（最近%2点，共%3点）").arg(c.name).arg(maxPoints).arg(values.size())
            : QStringLiteral("%1 单值图").arg(c.name));
}

void CapabilityCharts::histogram(QChart *chart, const CharacteristicCapability &c)
{
    clear(chart);
    const std::vector<double> &values = c.values;
    if (values.empty())
        return;
    const auto range = std::minmax_element(values.cbegin(), values.cend());
    double low = *range.first;
    double high = *range.second;
    if (c.hasLimits) {
        for (const double y : { c.limits.low, c.limits.up }) {
            if (std::isfinite(y)) {
                low = std::min(low, y);
                high = std::max(high, y);
            }
        }
    }
    if (!(high > low)) {
        low -= 0.5;
        high += 0.5;
    }
    const int bins = std::max(5, std::min(40, int(std::ceil(std::sqrt(double(values.size()))))));
    const double width = (high - low) / bins;
    QVector<int> counts(bins, 0);
    for (const double v : values)
        ++counts[std::min(bins - 1, int((v - low) / width))];
    const int most = *std::max_element(counts.cbegin(), counts.cend());

    auto *upper = new QLineSeries();
    auto *base = new QLineSeries();
    for (int i = 0; i < bins; ++i) {
        upper->append(low + i * width, counts[i]);
        upper->append(low + (i + 1) * width, counts[i]);
    }
    base->append(low, 0);
    base->append(high, 0);
    auto *area = new QAreaSeries(upper, base);
    area->setName(QStringLiteral("频数"));
    area->setColor(QColor(70, 130, 180, 200));
    area->setBorderColor(QColor(70, 130, 180));
    chart->addSeries(area);
    QList<QLineSeries *> lines;
    if (c.hasLimits) {
        for (const double x : { c.limits.low, c.limits.up }) {
            if (std::isfinite(x))
                lines << line(chart, x == c.limits.low ? QStringLiteral("下限") : QStringLiteral("上限"),
                    QColor(QStringLiteral("#F56C6C")), Qt::SolidLine, x, 0, x, most * 1.1);
        }
    }
    const double pad = (high - low) * 0.03;
    QValueAxis *x = valueAxis(chart, Qt::AlignBottom, low - pad, high + pad);
    QValueAxis *y = valueAxis(chart, Qt::AlignLeft, 0, std::max(1.0, most * 1.1));
    y->setLabelFormat(QStringLiteral("%d"));
    attach(area, x, y);
    for (QLineSeries *series : qAsConst(lines))
        attach(series, x, y);
    chart->legend()->setFont(chartFont());
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setTitle(QStringLiteral("%1 直方图").arg(c.name));
}

void CapabilityCharts::pareto(QChart *chart, const QVector<DefectPareto::Cause> &causes)
{
    clear(chart);
    chart->setTitle(QStringLiteral("缺陷帕累托图"));
    if (causes.isEmpty())
        return;
    auto *bars = new QBarSeries();
    auto *set = new QBarSet(QStringLiteral("数量"));
    set->setColor(QColor(70, 130, 180));
    auto *cumulative = new QLineSeries();
    cumulative->setName(QStringLiteral("累计占比(%)"));
    cumulative->setPen(QPen(QColor(QStringLiteral("#E6A23C")), 2.0));
    cumulative->setPointsVisible(true);
    QStringList names;
    for (int i = 0; i < causes.size(); ++i) {
        set->append(causes[i].count);
        names << causes[i].name;
        cumulative->append(i, causes[i].cumulativeShare * 100.0);
    }
    bars->append(set);
    chart->addSeries(bars);
    chart->addSeries(cumulative);
    auto *x = new QBarCategoryAxis();
    x->append(names);
    x->setLabelsFont(chartFont());
    x->setLabelsAngle(-45);
    chart->addAxis(x, Qt::AlignBottom);
    QValueAxis *count = valueAxis(chart, Qt::AlignLeft, 0, std::max(1.0, causes[0].count * 1.1));
    count->setLabelFormat(QStringLiteral("%d"));
    QValueAxis *share = valueAxis(chart, Qt::AlignRight, 0, 100);
    share->setLabelFormat(QStringLiteral("%d%%"));
    attach(bars, x, count);
    attach(cumulative, x, share);
    chart->legend()->setFont(chartFont());
    chart->legend()->setAlignment(Qt::AlignBottom);
}
