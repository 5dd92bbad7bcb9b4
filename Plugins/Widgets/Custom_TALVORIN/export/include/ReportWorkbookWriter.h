#pragma once

#include "ProductInfo.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>
#include <utility>

// Writes the report's products to an xlsx workbook: one header row, then one row per product
// with its hole diameters spread over the columns from G on by hole number. Products beyond a
// sheet's last row go on over further sheets (Sheet2, ...), each under the same header row.
// Written row by row in constant-memory mode, so memory does not grow with the number of
// products.
class ReportWorkbookWriter
{
public:
    using Products = QVector<std::shared_ptr<tlv::ProductInfo>>;
    // Told how many of the products are done; false stops the export.
    using Progress = std::function<bool(int written)>;
    static constexpr int ProgressInterval = 256;

    // Null products are skipped without using a row. progress, when given, is called after every
    // ProgressInterval products and after the last, before the file is saved, and once more just
    // before the saved file replaces an earlier one. Returns whether the file was saved; a
    // stopped export saves nothing and leaves an earlier file as it was.
    static bool write(const QString &fileName, const Products &products, const Progress &progress = {});

    // A product's cells as the sheet has them: the barcode's parts before and after its first
    // comma, the result (a text, or the number of an unknown status), and the holes by hole
    // number (column G + number), the last of equal numbers kept. Holes whose number has no column
    // are left out and counted.
    struct Row
    {
        QString material;
        QString order;
        QVariant result;
        QVector<std::pair<int, const tlv::HoleInfo *>> holes;
        int outOfRange = 0;
        int firstOutOfRange = 0;
    };
    // Fills `row` (its buffers reused) for `product`; its holes point into the product.
    static void rowOf(const tlv::ProductInfo &product, Row &row);

    // Where the streaming write() takes its products from, batch by batch: fills `batch` (given
    // empty) and says whether more may follow. Failed stops the export as a stopped progress does.
    enum class Pull { More, End, Failed };
    using Source = std::function<Pull(Products &batch)>;

    // The same workbook from products pulled as they are written, so memory stays flat however
    // many there are; the header's merge over the hole columns is noted at the end. write() above
    // runs through this one.
    static bool write(const QString &fileName, const Source &source, const Progress &progress = {});
};
