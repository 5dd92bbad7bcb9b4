#pragma once

#include "Tolerance.h"

#include <McuEvent.h>
#include <ProductProcessData.h>

#include <QObject>
#include <QTimer>
#include <QVector>

#include <random>

class SysInterfaceImpl;

// Drives a production line through the host's signals: run mode first, then per product the
// MCU start event, the size groups, one diameter group per hole, the appearance result and
// the MCU end event. Everything is emitted from a timer on the GUI thread.
class LineSimulator : public QObject
{
    Q_OBJECT
public:
    // A characteristic of the simulated product: its nominal value and its limits.
    struct Limits
    {
        double nominal;
        double low;
        double up;
    };

    // What the line made of the last product, as the simulator judged it.
    struct ProductSummary
    {
        int productId = 0;
        double length = 0.0;
        double width = 0.0;
        int badHoles = 0;
        bool appearanceOk = true;
        bool ok = true;
    };

    explicit LineSimulator(SysInterfaceImpl *host, QObject *parent = nullptr);

    // 0 = as fast as the event loop allows; other rates are held within kMinRate..kMaxRate.
    void setRate(double productsPerSecond);
    void setProductLimit(int products); // 0 = run until stopped
    void setHoles(int holes);
    void setSeed(quint32 seed);
    void setFirstProductId(int id);

    double rate() const { return m_rate; }
    int productLimit() const { return m_limit; }
    int holes() const { return m_holes; }
    int productsDone() const { return m_done; }
    int expectedOk() const { return m_expectedOk; }
    int expectedNg() const { return m_done - m_expectedOk; }
    bool isRunning() const { return m_timer.isActive(); }
    const ProductSummary &lastProduct() const { return m_last; }

    // Judged as the panel judges: both limits inclusive, NaN never within.
    static bool within(double value, const Limits &limits)
    {
        return Tolerance { limits.low, limits.up }.accepts(value);
    }

    static constexpr double kMinRate = 0.01;
    static constexpr double kMaxRate = 1000.0;

    static const Limits kLength;
    static const Limits kWidth;
    static const Limits kDiameter;

public slots:
    void start();
    void pause();
    void resume();

signals:
    void productStarted(int index, int productId);
    void holeEmitted(int index, int hole);
    void productFinished(int index, bool expectedOk);
    void finished();

private:
    struct Step
    {
        enum Kind { McuText, Result } kind = McuText;
        QString text;
        ProductProcessData data;
        int hole = -1;
    };

    void tick();
    void emitStep(const Step &step);
    // Plans the next product's steps and what the line makes of it.
    void planProduct();
    void planSizes();
    void planHoles();
    void planHole(int hole, bool defective);
    void planAppearance();
    static Step mcuStep(const QString &text);
    Step resultStep(int camera, int kind) const;
    void applyRate();
    double normal(double mean, double sigma);
    bool chance(double p);
    // A size scattered around its nominal value; a defective one lies off by about `miss`.
    double measured(const Limits &limits, double sigma, double defectChance, double miss, double missSigma);
    MeasureItem measureItem(const QString &name, double value, const Limits &limits) const;
    ProductProcessData resultRecord(int camera, int kind) const;
    static McuEvent mcuEvent(const QString &text, int productId);

    SysInterfaceImpl *m_host;
    QTimer m_timer;
    std::mt19937 m_rng;
    double m_rate = 1.0;
    int m_limit = 0;
    int m_holes = 20;
    int m_stepsPerTick = 1;
    int m_done = 0;
    int m_expectedOk = 0;
    int m_nextProductId = 1;
    bool m_started = false;
    ProductSummary m_planned;
    ProductSummary m_last;
    QVector<Step> m_plan;
    int m_planPos = 0;
};
