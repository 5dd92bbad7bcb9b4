#pragma once

#include "HoleEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

// Writes the product on screen to an xlsx workbook: its holes (diameter, result, position) and
// its size lines, the smallest diameters in dark yellow and the largest in blue.
class CurrentProductWorkbookWriter
{
public:
    // valueLines are the panel's size lines, "name:\tvalue". Returns whether the file was saved.
    static bool write(const QString &fileName, const QList<HoleEntry> &holes, const QStringList &valueLines);
};
