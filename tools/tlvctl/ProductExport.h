#pragma once

#include <QString>

// `tlvctl export`: the products of a time range to the report's workbook or to CSV, streamed from
// the database to the file. Progress goes to stderr.
class ProductExport
{
public:
    struct Range
    {
        QString db, from, to, search;
    };
    static bool toXlsx(const Range &range, const QString &fileName, QString *error);
    static bool toCsv(const Range &range, const QString &fileName, QString *error);
};
