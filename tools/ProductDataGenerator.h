#pragma once

#include <QDateTime>
#include <QString>

// Fills a product database with realistic rows in the panel's exact encodings, for the
// station host, tests and benchmarks.
class ProductDataGenerator
{
public:
    // Creates the folder and the table when missing, then inserts `products` rows spread
    // evenly over `days` days ending at `end` (the last row is stamped `end`), each with
    // `holes` holes. All rows go in one transaction. False (with a critical log) on failure.
    // With `keepLimits` the limits of every hole and size are kept from the first product on, as a
    // panel with the history switched on keeps them.
    static bool generate(const QString &dbPath, int products, int days, const QDateTime &end, int holes,
        quint32 seed, bool keepLimits = true);
};
