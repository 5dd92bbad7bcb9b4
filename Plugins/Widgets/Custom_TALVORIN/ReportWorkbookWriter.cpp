#include "ReportWorkbookWriter.h"

#include "XlsxWorkbook.h"

#include <QDebug>
#include <QVector>

#include <algorithm>

namespace {

constexpr int firstHoleColumn = 7;
constexpr int lastHoleIdx = XlsxWorkbook::MaxColumns - firstHoleColumn;

QVariant resultOf(int status)
{
    switch (status) {
    case 3:
        return QStringLiteral("OK");
    case 2:
        return QStringLiteral("尺寸NG");
    case 1:
        return QStringLiteral("外观NG");
    case 0:
        return QStringLiteral("尺寸NG、外观NG");
    default:
        // An unknown code (the panel stores 0 to 3) is shown as itself, negative or not.
        return status;
    }
}

} // namespace

bool ReportWorkbookWriter::write(const QString &fileName, const QList<std::shared_ptr<tlv::ProductInfo>> &products)
{
    // Row 1 and its merge must reach the sheet before the product rows.
    int widest = 0;
    for (const auto &product : products) {
        if (product)
            widest = std::max(widest, int(product->vtHoles.size()));
    }

    XlsxWorkbook book(fileName, true);
    if (!book.isValid())
        return false;

    const QString headers[] = {QStringLiteral("Time"), QStringLiteral("ProductID"),
                               QStringLiteral("Material number"), QStringLiteral("Order number"),
                               QStringLiteral("Result"), QStringLiteral("Length"), QStringLiteral("Diameter")};
    for (int c = 0; c < 7; ++c)
        book.write(1, c + 1, headers[c]);
    if (widest >= 2) {
        int lastColumn = firstHoleColumn - 1 + widest;
        if (lastColumn > XlsxWorkbook::MaxColumns) {
            qCritical() << "The widest product has" << widest << "holes; the header merge stops at the last column"
                        << XlsxWorkbook::MaxColumns << "of" << fileName;
            lastColumn = XlsxWorkbook::MaxColumns;
        }
        book.mergeCells(1, firstHoleColumn, 1, lastColumn, headers[6]);
    }

    // The holes of one row, ordered by column with the last of equal numbers kept.
    QVector<std::pair<int, const tlv::HoleInfo *>> rowHoles;
    int skippedHoles = 0;
    int firstSkippedIdx = 0;
    int firstSkippedPid = 0;
    int leftOut = 0;
    int row = 2;
    for (const auto &product : products) {
        if (!product)
            continue;
        if (row > XlsxWorkbook::MaxRows) {
            ++leftOut;
            continue;
        }
        book.write(row, 1, product->uptime);
        book.write(row, 2, product->pid);
        const QVector<QStringRef> parts = product->barcode.splitRef(QLatin1Char(','), Qt::KeepEmptyParts);
        if (!parts.at(0).isEmpty())
            book.write(row, 3, parts.at(0).toString());
        if (parts.size() > 1 && !parts.at(1).isEmpty())
            book.write(row, 4, parts.at(1).toString());
        book.write(row, 5, resultOf(product->status));
        book.write(row, 6, product->psize);

        rowHoles.clear();
        for (const auto &hole : product->vtHoles) {
            if (!hole)
                continue;
            if (hole->idx < 0 || hole->idx > lastHoleIdx) {
                if (skippedHoles++ == 0) {
                    firstSkippedIdx = hole->idx;
                    firstSkippedPid = product->pid;
                }
                continue;
            }
            rowHoles.append({hole->idx, hole.get()});
        }
        std::stable_sort(rowHoles.begin(), rowHoles.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        for (int i = 0; i < rowHoles.size(); ++i) {
            if (i + 1 < rowHoles.size() && rowHoles.at(i + 1).first == rowHoles.at(i).first)
                continue;
            const tlv::HoleInfo *hole = rowHoles.at(i).second;
            book.write(row, firstHoleColumn + hole->idx, hole->value,
                       hole->status ? XlsxWorkbook::Style::Centred : XlsxWorkbook::Style::Red);
        }
        ++row;
    }

    if (skippedHoles > 0)
        qCritical().noquote() << QStringLiteral("%1: %2 hole(s) numbered below 0 or above %3 have no column and "
                                                "were left out, the first hole %4 of product %5")
                                     .arg(fileName).arg(skippedHoles).arg(lastHoleIdx)
                                     .arg(firstSkippedIdx).arg(firstSkippedPid);
    if (leftOut > 0)
        qCritical().noquote() << QStringLiteral("%1: the sheet holds %2 rows; %3 product(s) after the first %4 "
                                                "were left out")
                                     .arg(fileName).arg(XlsxWorkbook::MaxRows).arg(leftOut)
                                     .arg(XlsxWorkbook::MaxRows - 1);
    return book.save();
}
