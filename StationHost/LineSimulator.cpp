#include "LineSimulator.h"

#include <CurMode.h>
#include <SysInterfaceImpl.h>

#include <QDateTime>
#include <QtMath>

#include <cmath>

// Nominal sizes of the TALVORIN profile in mm; limits are inclusive.
const LineSimulator::Limits LineSimulator::kLength { 1200.0, 1198.8, 1201.2 };
const LineSimulator::Limits LineSimulator::kWidth { 35.0, 34.9, 35.1 };
const LineSimulator::Limits LineSimulator::kDiameter { 8.0, 7.95, 8.05 };

namespace {
// Share of products with a deliberately bad value, so that a run shows a few NG products.
constexpr double kLengthDefect = 0.02;
constexpr double kWidthDefect = 0.015;
constexpr double kHoleDefect = 0.10;
constexpr double kSecondHoleDefect = 0.3;
constexpr double kAppearanceDefect = 0.06;
} // namespace

LineSimulator::LineSimulator(SysInterfaceImpl *host, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_rng(20240506u)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LineSimulator::tick);
}

void LineSimulator::setRate(double productsPerSecond)
{
    // Outside the bounds the timer's interval or the steps per tick would overflow.
    m_rate = productsPerSecond > 0.0 ? qBound(kMinRate, productsPerSecond, kMaxRate) : 0.0;
    applyRate();
}

void LineSimulator::setProductLimit(int products)
{
    m_limit = qMax(0, products);
}

void LineSimulator::setHoles(int holes)
{
    m_holes = qBound(0, holes, 200);
    applyRate();
}

void LineSimulator::setSeed(quint32 seed)
{
    m_rng.seed(seed);
}

void LineSimulator::setFirstProductId(int id)
{
    m_nextProductId = id;
}

void LineSimulator::applyRate()
{
    const int stepsPerProduct = m_holes + 5;
    if (m_rate <= 0.0) {
        m_timer.setInterval(0);
        m_stepsPerTick = stepsPerProduct;
        return;
    }
    const double eventsPerSecond = m_rate * stepsPerProduct;
    const double intervalMs = 1000.0 / eventsPerSecond;
    if (intervalMs >= 1.0) {
        m_timer.setInterval(qRound(intervalMs));
        m_stepsPerTick = 1;
    } else {
        m_timer.setInterval(1);
        m_stepsPerTick = qCeil(eventsPerSecond / 1000.0);
    }
}

void LineSimulator::start()
{
    if (m_started)
        return;
    m_started = true;
    emit m_host->curRunningModeChanged(CurMode_Run);
    applyRate();
    m_timer.start();
}

void LineSimulator::pause()
{
    m_timer.stop();
}

void LineSimulator::resume()
{
    if (m_started && (m_limit == 0 || m_done < m_limit))
        m_timer.start();
}

void LineSimulator::tick()
{
    for (int i = 0; i < m_stepsPerTick; ++i) {
        if (m_planPos >= m_plan.size())
            planProduct();
        const Step &step = m_plan.at(m_planPos++);
        emitStep(step);
        if (m_planPos < m_plan.size())
            continue;

        const int index = m_done++;
        m_last = m_planned;
        if (m_last.ok)
            ++m_expectedOk;
        emit productFinished(index, m_last.ok);
        if (m_limit > 0 && m_done >= m_limit) {
            m_timer.stop();
            emit m_host->curRunningModeChanged(CurMode_Stop);
            emit finished();
            return;
        }
        // The timer may have been paused by a listener.
        if (!m_timer.isActive())
            return;
    }
}

void LineSimulator::emitStep(const Step &step)
{
    if (step.kind == Step::McuText) {
        if (step.text == QLatin1String("CamLenStart"))
            emit productStarted(m_done, m_nextProductId - 1);
        emit m_host->Signal_McEvent(mcuEvent(step.text, m_nextProductId - 1));
        return;
    }
    ProductProcessData data = step.data;
    data.time = QDateTime::currentDateTime();
    emit m_host->cameraDetectionCompleted(data);
    if (step.hole >= 0)
        emit holeEmitted(m_done, step.hole);
}

void LineSimulator::planProduct()
{
    m_plan.clear();
    m_planPos = 0;
    m_planned = ProductSummary();
    m_planned.productId = m_nextProductId++;

    m_plan << mcuStep(QStringLiteral("CamLenStart"));
    // The draws below run in this order, so that a seed always gives the same line.
    planSizes();
    planHoles();
    planAppearance();
    m_plan << mcuStep(QStringLiteral("CamLenEnd"));

    m_planned.ok = within(m_planned.length, kLength) && within(m_planned.width, kWidth)
        && m_planned.badHoles == 0 && m_planned.appearanceOk;
}

void LineSimulator::planSizes()
{
    // Length on camera 1 (with a grey-level item the panel does not show), width on camera 2.
    m_planned.length = measured(kLength, 0.3, kLengthDefect, 1.8, 0.2);
    Step lengthStep = resultStep(1, 0);
    CameraResult &lengthEntry = lengthStep.data.results.first();
    lengthEntry.items.insert(
        QStringLiteral("01"), measureItem(QStringLiteral("TALVORIN长度"), m_planned.length, kLength));
    lengthEntry.items.insert(QStringLiteral("02"),
        measureItem(QStringLiteral("灰度均值"), normal(128.0, 6.0), Limits { 128.0, 80.0, 200.0 }));
    m_plan << lengthStep;

    m_planned.width = measured(kWidth, 0.02, kWidthDefect, 0.15, 0.02);
    Step widthStep = resultStep(2, 0);
    widthStep.data.results.first().items.insert(
        QStringLiteral("01"), measureItem(QStringLiteral("宽度"), m_planned.width, kWidth));
    m_plan << widthStep;
}

void LineSimulator::planHoles()
{
    // A defective product has one bad hole, sometimes two.
    QVector<int> badHoles;
    if (m_holes > 0 && chance(kHoleDefect)) {
        std::uniform_int_distribution<int> pick(0, m_holes - 1);
        badHoles << pick(m_rng);
        if (chance(kSecondHoleDefect))
            badHoles << pick(m_rng);
    }
    for (int hole = 0; hole < m_holes; ++hole)
        planHole(hole, badHoles.contains(hole));
}

void LineSimulator::planHole(int hole, bool defective)
{
    double diameter = normal(kDiameter.nominal, 0.012);
    if (defective)
        diameter = kDiameter.nominal + (chance(0.5) ? 1.0 : -1.0) * (0.06 + std::abs(normal(0.0, 0.03)));
    if (!within(diameter, kDiameter))
        ++m_planned.badHoles;
    Step holeStep = resultStep(3 + hole % 2, 1);
    holeStep.hole = hole;
    CameraResult &entry = holeStep.data.results.first();
    const QString prefix = QStringLiteral("H%1").arg(hole + 1, 2, 10, QLatin1Char('0'));
    // "A" sorts first: the roundness item is not the hole's diameter item.
    entry.items.insert(QStringLiteral("A"),
        measureItem(
            prefix + QStringLiteral("圆度"), std::abs(normal(0.004, 0.002)), Limits { 0.0, 0.0, 0.02 }));
    entry.items.insert(
        QStringLiteral("B"), measureItem(prefix + QStringLiteral("圆径"), diameter, kDiameter));
    m_plan << holeStep;
}

void LineSimulator::planAppearance()
{
    m_planned.appearanceOk = !chance(kAppearanceDefect);
    Step appearance = resultStep(1, 2);
    appearance.data.results.first().productId = m_planned.productId;
    appearance.data.results.first().appearanceOk = m_planned.appearanceOk;
    m_plan << appearance;
}

LineSimulator::Step LineSimulator::mcuStep(const QString &text)
{
    Step step;
    step.text = text;
    return step;
}

LineSimulator::Step LineSimulator::resultStep(int camera, int kind) const
{
    Step step;
    step.kind = Step::Result;
    step.data = resultRecord(camera, kind);
    return step;
}

double LineSimulator::normal(double mean, double sigma)
{
    std::normal_distribution<double> dist(mean, sigma);
    return dist(m_rng);
}

bool LineSimulator::chance(double p)
{
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    return dist(m_rng) < p;
}

double LineSimulator::measured(
    const Limits &tol, double sigma, double defectChance, double miss, double missSigma)
{
    double value = normal(tol.nominal, sigma);
    if (chance(defectChance))
        value = tol.nominal + (chance(0.5) ? 1.0 : -1.0) * normal(miss, missSigma);
    return value;
}

MeasureItem LineSimulator::measureItem(const QString &name, double value, const Limits &tol) const
{
    MeasureItem item;
    item.name = name;
    item.unit = QStringLiteral("mm");
    item.values.insert(QStringLiteral("MeasureResults"), value);
    item.values.insert(QStringLiteral("UpTolerance"), tol.up);
    item.values.insert(QStringLiteral("LowTolerance"), tol.low);
    item.values.insert(QStringLiteral("Nominal"), tol.nominal);
    return item;
}

ProductProcessData LineSimulator::resultRecord(int camera, int kind) const
{
    ProductProcessData data;
    data.station = 1;
    data.time = QDateTime::currentDateTime();
    CameraResult entry;
    entry.camera = camera;
    entry.kind = kind;
    entry.cycle = m_done;
    entry.productId = m_nextProductId - 1;
    entry.exposureMs = kind == 2 ? 1.2 : 0.8;
    entry.algorithm = kind == 0 ? QStringLiteral("EdgeGauge")
        : kind == 1             ? QStringLiteral("CircleFit")
                                : QStringLiteral("SurfaceCheck");
    data.results << entry;
    return data;
}

McuEvent LineSimulator::mcuEvent(const QString &text, int productId)
{
    McuEvent event;
    event.source = QStringLiteral("MCU");
    event.device = QStringLiteral("CamLen");
    event.eventId = QString::number(productId);
    event.timeText = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    event.eventText = text;
    return event;
}
