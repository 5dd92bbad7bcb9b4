#pragma once

#include "ApeEntry.h"
#include "HoleEntry.h"

#include <QList>
#include <QMap>
#include <QString>

class QDateTime;

// The texts of one product_data_new row, in the encodings the report side reads back.
class StoredRowWriter
{
public:
    // "name:value" per size item in ascending name order, joined with ';'. Null when empty.
    static QString psizeText(const QMap<QString, double> &sizeValues);
    // Compact JSON arrays; "[]" when empty.
    static QString diameterJson(const QList<HoleEntry> &holes);
    static QString appearanceJson(const QList<ApeEntry> &findings);
    // The date-time text stored in "uptime".
    static QString uptimeText(const QDateTime &time);
    // uptimeText of the current local time.
    static QString currentUptimeText();
};
