#pragma once

#include "ProductInfo.h"

#include <QList>
#include <QString>

#include <memory>

// Writes the report's products to an xlsx workbook: one header row, then one row per product
// with its hole diameters spread over the columns from G on by hole number. Written row by row
// in constant-memory mode, so memory does not grow with the number of products.
class ReportWorkbookWriter
{
public:
    // Null products are skipped without using a row. Returns whether the file was saved.
    static bool write(const QString &fileName, const QList<std::shared_ptr<tlv::ProductInfo>> &products);
};
