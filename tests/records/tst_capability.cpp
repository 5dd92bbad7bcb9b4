// The capability of a range's characteristics, its control-chart rules and the Pareto of its
// defects, on series whose expected figures were worked out by hand.

#include "CapabilityStudy.h"
#include "ControlRules.h"
#include "DefectPareto.h"

#include <QtTest>

#include <cmath>
#include <limits>

using Products = CapabilityStudy::Products;
using Marks = QVector<int>;
Q_DECLARE_METATYPE(KeptLimit)

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Products with ids 1, 2, ... each with one hole (index 0) of the given value; NG where `ng`.
Products holeSeries(const QVector<double> &values, const QVector<int> &ng = {})
{
    Products products;
    for (int i = 0; i < values.size(); ++i) {
        auto product = std::make_shared<tlv::ProductInfo>();
        product->id = i + 1;
        product->vtHoles.append(std::make_shared<tlv::HoleInfo>(
            tlv::HoleInfo { 0, !ng.contains(i + 1), QString(), QString::number(values[i], 'g', 6) }));
        products.append(product);
    }
    return products;
}

// Equal within 1e-12, relative; NaN and infinities equal only to themselves ("not shown").
bool same(double actual, double expected)
{
    if (!std::isfinite(expected) || !std::isfinite(actual))
        return std::isfinite(expected) == std::isfinite(actual);
    return std::abs(actual - expected) <= 1e-12 * std::max(1.0, std::abs(expected));
}

} // namespace

class TestCapability : public QObject
{
    Q_OBJECT

private slots:
    // One hole over products 1 to n: the figures, the limits of the last product and whether
    // they changed within the range.
    void statistics_data()
    {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<QVector<KeptLimit>>("kept");
        // n, mean, σ within, σ overall, low, up, Cp, Cpk, Pp, Ppk
        QTest::addColumn<QVector<double>>("expected");
        QTest::addColumn<bool>("changed");
        const auto kept = [](qint64 from, double low, double up) {
            return KeptLimit { "孔0", from, { low, up } };
        };
        QTest::newRow("constant") << QVector<double> { 5, 5, 5, 5 } << QVector<KeptLimit> { kept(1, 4, 6) }
                                  << QVector<double> { 4, 5, 0, 0, 4, 6, NaN, NaN, NaN, NaN } << false;
        QTest::newRow("single value")
            << QVector<double> { 7 } << QVector<KeptLimit> { kept(1, 4, 9) }
            << QVector<double> { 1, 7, NaN, NaN, 4, 9, NaN, NaN, NaN, NaN } << false;
        QTest::newRow("spread") << QVector<double> { 2, 4, 4, 6 } << QVector<KeptLimit> { kept(1, 0, 10) }
                                << QVector<double> { 4, 4, 1.1820330969267139, 1.632993161855452, 0, 10, 1.41,
                                       1.128, 1.0206207261596576, 0.8164965809277261 }
                                << false;
        QTest::newRow("limits changed mid-range")
            << QVector<double> { 2, 4, 4, 6 }
            << QVector<KeptLimit> { kept(3, 1, 9), kept(1, 0, 10), kept(7, 3, 4) }
            << QVector<double> { 4, 4, 1.1820330969267139, 1.632993161855452, 1, 9, 1.128, 0.846,
                   0.8164965809277261, 0.6123724356957946 }
            << true;
        QTest::newRow("kept from the third product")
            << QVector<double> { 2, 4, 4, 6 } << QVector<KeptLimit> { kept(3, 0, 10) }
            << QVector<double> { 4, 4, 1.1820330969267139, 1.632993161855452, 0, 10, 1.41, 1.128,
                   1.0206207261596576, 0.8164965809277261 }
            << true;
        QTest::newRow("stored before limits were kept")
            << QVector<double> { 2, 4, 4, 6 } << QVector<KeptLimit> { kept(5, 0, 10) }
            << QVector<double> { 4, 4, 1.1820330969267139, 1.632993161855452, NaN, NaN, NaN, NaN, NaN, NaN }
            << false;
        QTest::newRow("shift after point 4")
            << QVector<double> { 10, 10, 10, 10, 12, 12, 12, 12 } << QVector<KeptLimit> { kept(1, 9, 13) }
            << QVector<double> { 8, 11, 0.25329280648429586, 1.0690449676496976, 9, 13, 2.632, 2.632,
                   0.6236095644623235, 0.6236095644623235 }
            << false;
        QTest::newRow("not a number left out")
            << QVector<double> { 2, NaN, 4, 4, std::numeric_limits<double>::infinity(), 6 }
            << QVector<KeptLimit> { kept(1, 0, 10) }
            << QVector<double> { 4, 4, 1.1820330969267139, 1.632993161855452, 0, 10, 1.41, 1.128,
                   1.0206207261596576, 0.8164965809277261 }
            << false;
    }
    void statistics()
    {
        QFETCH(QVector<double>, values);
        QFETCH(QVector<KeptLimit>, kept);
        QFETCH(QVector<double>, expected);
        QFETCH(bool, changed);
        const QVector<CharacteristicCapability> table = CapabilityStudy::run(holeSeries(values), kept);
        QCOMPARE(table.size(), 1);
        const CharacteristicCapability &c = table[0];
        QCOMPARE(c.name, QStringLiteral("孔0"));
        const double low = c.hasLimits ? c.limits.low : NaN;
        const double up = c.hasLimits ? c.limits.up : NaN;
        const QVector<double> actual { double(c.statistics.n), c.statistics.mean, c.statistics.sigmaWithin,
            c.statistics.sigmaOverall, low, up, c.indices.cp, c.indices.cpk, c.indices.pp, c.indices.ppk };
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(same(actual[i], expected[i]),
                qPrintable(
                    QStringLiteral("figure %1: %2, expected %3").arg(i).arg(actual[i]).arg(expected[i])));
        QCOMPARE(c.limitsChanged, changed);
    }

    // Marks per point (1 = beyond 3σ, 2 = two of three beyond 2σ, 4 = four of five beyond 1σ,
    // 8 = eight on one side), centre 0 and σ 1 unless the row says otherwise.
    void rules_data()
    {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<double>("centre");
        QTest::addColumn<double>("sigma");
        QTest::addColumn<Marks>("marks");
        QTest::newRow("constant") << QVector<double> { 5, 5, 5, 5, 5, 5, 5, 5, 5 } << 5.0 << 0.0
                                  << Marks { 0, 0, 0, 0, 0, 0, 0, 0, 0 };
        QTest::newRow("single value") << QVector<double> { 3.5 } << 0.0 << 1.0 << Marks { 1 };
        QTest::newRow("1: beyond 3σ, not on it")
            << QVector<double> { 0.5, -3.5, 3.0 } << 0.0 << 1.0 << Marks { 0, 1, 0 };
        QTest::newRow("2: two of three")
            << QVector<double> { 2.5, 0, 2.5, -2.5, 0 } << 0.0 << 1.0 << Marks { 0, 0, 2, 0, 0 };
        QTest::newRow("3: four of five")
            << QVector<double> { 1.5, 1.5, 0, 1.5, 1.5, -1.5 } << 0.0 << 1.0 << Marks { 0, 0, 0, 0, 4, 0 };
        QTest::newRow("4: shift after point 2") << QVector<double> { -0.5, -0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5,
            0.5, 0.5, 0 } << 0.0 << 1.0 << Marks { 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0 };
        QTest::newRow("trend of 6") << QVector<double> { -2.5, -1.5, -0.5, 0.5, 1.5, 2.5 } << 0.0 << 1.0
                                    << Marks { 0, 0, 0, 0, 0, 0 };
        QTest::newRow("shift after point 4, own σ") << QVector<double> { 10, 10, 10, 10, 12, 12, 12,
            12 } << 11.0 << 0.25329280648429586 << Marks { 1, 1, 3, 3, 1, 3, 3, 7 };
    }
    void rules()
    {
        QFETCH(QVector<double>, values);
        QFETCH(double, centre);
        QFETCH(double, sigma);
        QFETCH(Marks, marks);
        const std::vector<std::uint8_t> found
            = ControlRules::breaks(std::vector<double>(values.cbegin(), values.cend()), centre, sigma);
        QCOMPARE(Marks(found.cbegin(), found.cend()), marks);
    }

    // Holes and sizes together: lowest Cpk first, those without limits last; holes NG by their
    // verdict, sizes by their value against the limits in force for their product.
    void table()
    {
        Products products = holeSeries({ 2, 4, 4, 6 }, { 2 });
        const QStringList sizes { "宽度:35.1;TALVORIN长度:1200", "宽度:35.3;TALVORIN长度:1201", "宽度:34.9",
            "宽度:35.05;TALVORIN长度:1199" };
        for (int i = 0; i < products.size(); ++i) {
            products[i]->psize = sizes[i];
            products[i]->vtHoles.append(std::make_shared<tlv::HoleInfo>(tlv::HoleInfo { 1, false, "", "8" }));
        }
        std::swap(products[0], products[3]); // the order the products were stored decides
        const QVector<KeptLimit> kept { { "孔0", 1, { 0, 10 } }, { "宽度", 1, { 34.8, 35.2 } },
            { "宽度", 3, { 34.95, 35.35 } } };
        QStringList rows;
        for (const CharacteristicCapability &c : CapabilityStudy::run(products, kept))
            rows << QStringLiteral("%1 n%2 ng%3 cpk%4")
                        .arg(c.name)
                        .arg(c.statistics.n)
                        .arg(c.ngCount)
                        .arg(c.indices.cpk);
        // 宽度 values 35.1 35.3 34.9 35.05: mean 35.0875, moving ranges 0.2 0.4 0.15, limits
        // 34.95..35.35: Cpk 0.1375 / (3 * 0.25 / 1.128) = 0.2068; NG: 35.3 (before 3), 34.9.
        QCOMPARE(rows,
            QStringList({ "宽度 n4 ng2 cpk0.2068", "孔0 n4 ng1 cpk1.128", "孔1 n4 ng4 cpknan",
                "TALVORIN长度 n3 ng-1 cpknan" }));
    }

    void pareto()
    {
        Products products = holeSeries({ 1, 1, 1 }, { 1, 3 });
        products[0]->vtApes.append(
            std::make_shared<tlv::ApeInfo>(tlv::ApeInfo { 0, false, "", { "A", "B" } }));
        products[1]->vtApes.append(std::make_shared<tlv::ApeInfo>(tlv::ApeInfo { 0, false, "", { "B" } }));
        products[1]->vtApes.append(std::make_shared<tlv::ApeInfo>(tlv::ApeInfo { 1, true, "", { "C" } }));
        QStringList causes;
        for (const DefectPareto::Cause &cause : DefectPareto::of(products))
            causes << QStringLiteral("%1 %2 %3").arg(cause.name).arg(cause.count).arg(cause.cumulativeShare);
        QCOMPARE(causes, QStringList({ "B 2 0.4", "尺寸NG 2 0.8", "A 1 1" }));
    }
};

QTEST_GUILESS_MAIN(TestCapability)
#include "tst_capability.moc"
