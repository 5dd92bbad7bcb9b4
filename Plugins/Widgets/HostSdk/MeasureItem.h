#pragma once

#include <QBitArray>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantList>

// One measured item of a camera result. The panel reads `name` and the numbers under
// "MeasureResults", "UpTolerance" and "LowTolerance" of `values`.
struct MeasureItem
{
    QString name;
    QBitArray flags;
    QMap<QString, QVariant> values;
    QString unit;
    QVariantList extra;
};

Q_DECLARE_METATYPE(MeasureItem)
