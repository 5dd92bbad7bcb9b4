#pragma once

#include <QString>

// The product databases whose host switched the year-scale history on ("History": "1" in the
// panel's settings). A report over such a file reads through the history index and offers the
// barcode search; over any other file it is exactly the report it always was. GUI thread only.
class HistorySwitch
{
public:
    static void set(const QString &dbPath, bool on);
    static bool isOn(const QString &dbPath);
};
