#pragma once

#include "KeptLimit.h"
#include "ProcessStatistics.h"
#include "ProductInfo.h"
#include "StoredHoles.h"

#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

// One characteristic over a range of products.
struct CharacteristicCapability
{
    QString name; // KeptLimit::holeName() for a hole, the size's own name
    int hole = -1; // the hole's index, -1 for a size
    std::vector<double> values; // finite values, in the order the products were stored
    ProcessStatistics statistics;
    bool hasLimits = false; // limits were kept for the range's last product
    Tolerance limits; // those in force for the range's last product
    bool limitsChanged = false; // some product of the range was judged against other limits
    CapabilityIndices indices; // NaN without limits
    int ngCount = -1; // -1 where unknown: a size none of whose products has kept limits
};

// The capability of every characteristic of a range of products: each hole by its index, each
// size by its name in the psize text. Values that are not finite numbers are left out. Holes count
// as NG by their stored verdict, sizes by their value against the limits in force for their
// product. Sorted with the lowest Cpk first; characteristics without a Cpk follow, holes by index
// and then sizes by name.
class CapabilityStudy
{
public:
    using Products = QVector<std::shared_ptr<tlv::ProductInfo>>;
    // Puts the stored holes of the products `ids` (ascending, distinct) into `holes`. Called for
    // each share of the range on the thread that studies it.
    using HoleSource = std::function<void(const std::vector<qint64> &ids, StoredHoles &holes)>;

    // `limits` in any order. With a `source`, a product's holes are those it gives (their values
    // at full precision); a product it gives none for is studied from its record's texts and
    // counted in `fromTexts`.
    static QVector<CharacteristicCapability> run(const Products &products, QVector<KeptLimit> limits,
        const HoleSource &source = {}, int *fromTexts = nullptr);

    // A value text as the records hold it ('g' format); NaN when it is not a number.
    static double number(const QString &text);
};
