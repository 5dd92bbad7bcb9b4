#pragma once

#include "CapabilityStudy.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The capability of a range's characteristics as a workbook of its own: one sheet "过程能力", a
// header row, then one row per characteristic in the order given. Numbers are number cells; a
// value that is not finite (an index without limits, a σ of one value) leaves its cell empty, as
// does an NG count that is not known. Saved like every workbook here: a failed save leaves no file
// and an earlier file of that name as it was.
class CapabilityWorkbookWriter
{
public:
    static const QString sheetName;
    // characteristic, n, mean, σ within, σ overall, lower limit, upper limit, Cp, Cpk, Pp, Ppk, NG
    static QStringList headers();

    static bool write(const QString &fileName, const QVector<CharacteristicCapability> &rows);
};
