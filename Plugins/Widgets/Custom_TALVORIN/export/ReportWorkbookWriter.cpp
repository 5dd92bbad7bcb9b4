#include "ReportWorkbookWriter.h"

#include "ProductStatus.h"
#include "ReportWorkbookWriter_p.h"
#include "XlsxWorkbook.h"

#include <QDebug>

#include <algorithm>
#include <utility>

namespace {

constexpr int firstHoleColumn = 7;
constexpr int lastHoleIdx = XlsxWorkbook::MaxColumns - firstHoleColumn;

QVariant resultOf(int status)
{
    // An unknown code (the panel stores 0 to 3) is shown as itself, negative or not.
    if (!ProductStatus::isKnown(status))
        return status;
    if (ProductStatus::isOk(status))
        return QStringLiteral("OK");
    return ProductStatus::text(status, QChar(u'、'));
}

// The sheets of one export: the header row, then the product rows in order. Products that do
// not fit on a sheet go on to another one under the same header.
class ReportSheet
{
public:
    ReportSheet(const QString &fileName, int sheetRows)
        : m_fileName(fileName)
        , m_book(fileName, true)
        , m_sheetRows(sheetRows)
    {
    }

    bool isValid() const { return m_book.isValid(); }
    void writeHeader();
    // Writes the next row, on a new sheet once this one is full.
    void writeProduct(const tlv::ProductInfo &product);
    bool save(const std::function<bool()> &proceed);

private:
    // "Diameter" over the hole columns of the widest product, on every sheet.
    void mergeHeaders();

    QString m_fileName;
    XlsxWorkbook m_book;
    int m_widest = 0;
    int m_sheetRows;
    int m_row = 2;
    int m_sheets = 1;
    int m_products = 0;
    bool m_stuck = false; // no further sheet could be added; the save fails
    int m_skippedHoles = 0;
    int m_firstSkippedIdx = 0;
    int m_firstSkippedPid = 0;
    ReportWorkbookWriter::Row m_cells; // the row being written, its buffers kept for the next
};

void ReportSheet::writeHeader()
{
    const QString headers[] = { QStringLiteral("Time"), QStringLiteral("ProductID"),
        QStringLiteral("Material number"), QStringLiteral("Order number"), QStringLiteral("Result"),
        QStringLiteral("Length"), QStringLiteral("Diameter") };
    for (int c = 0; c < 7; ++c)
        m_book.write(1, c + 1, headers[c]);
}

void ReportSheet::mergeHeaders()
{
    if (m_widest < 2)
        return;
    int lastColumn = firstHoleColumn - 1 + m_widest;
    for (int sheet = 1; sheet <= m_book.sheetCount(); ++sheet) {
        if (lastColumn > XlsxWorkbook::MaxColumns) {
            qCritical() << "The widest product has" << m_widest
                        << "holes; the header merge stops at the last column" << XlsxWorkbook::MaxColumns
                        << "of" << m_fileName;
            lastColumn = XlsxWorkbook::MaxColumns;
        }
        m_book.mergeWritten(sheet, 1, firstHoleColumn, 1, lastColumn);
    }
}

void ReportSheet::writeProduct(const tlv::ProductInfo &product)
{
    m_widest = std::max(m_widest, int(product.vtHoles.size()));
    if (m_row > m_sheetRows) {
        if (m_stuck || !m_book.addSheet()) {
            m_stuck = true;
            return;
        }
        ++m_sheets;
        m_row = 2;
        writeHeader();
    }
    ++m_products;
    ReportWorkbookWriter::rowOf(product, m_cells);
    m_book.write(m_row, 1, product.uptime);
    m_book.write(m_row, 2, product.pid);
    if (!m_cells.material.isEmpty())
        m_book.write(m_row, 3, m_cells.material);
    if (!m_cells.order.isEmpty())
        m_book.write(m_row, 4, m_cells.order);
    m_book.write(m_row, 5, m_cells.result);
    m_book.write(m_row, 6, product.psize);
    if (m_cells.outOfRange > 0 && m_skippedHoles == 0) {
        m_firstSkippedIdx = m_cells.firstOutOfRange;
        m_firstSkippedPid = product.pid;
    }
    m_skippedHoles += m_cells.outOfRange;
    for (const auto &hole : qAsConst(m_cells.holes))
        m_book.write(m_row, firstHoleColumn + hole.first, hole.second->value,
            hole.second->status ? XlsxWorkbook::Style::Centred : XlsxWorkbook::Style::Red);
    ++m_row;
}

bool ReportSheet::save(const std::function<bool()> &proceed)
{
    mergeHeaders();
    if (m_skippedHoles > 0)
        qCritical().noquote() << QStringLiteral(
            "%1: %2 hole(s) numbered below 0 or above %3 have no column and "
            "were left out, the first hole %4 of product %5")
                                     .arg(m_fileName)
                                     .arg(m_skippedHoles)
                                     .arg(lastHoleIdx)
                                     .arg(m_firstSkippedIdx)
                                     .arg(m_firstSkippedPid);
    if (m_sheets > 1)
        qInfo().noquote() << QStringLiteral(
            "%1: %2 products are more than a sheet holds (%3 rows); they fill %4 "
            "sheets, each under the header row")
                                 .arg(m_fileName)
                                 .arg(m_products)
                                 .arg(m_sheetRows)
                                 .arg(m_sheets);
    return m_book.save(proceed);
}

} // namespace

void ReportWorkbookWriter::rowOf(const tlv::ProductInfo &product, Row &row)
{
    const QVector<QStringRef> parts = product.barcode.splitRef(QLatin1Char(','), Qt::KeepEmptyParts);
    row.material = parts.at(0).toString();
    row.order = parts.size() > 1 ? parts.at(1).toString() : QString();
    row.result = resultOf(product.status);
    row.outOfRange = 0;
    row.firstOutOfRange = 0;
    row.holes.clear();
    for (const auto &hole : product.vtHoles) {
        if (!hole)
            continue;
        if (hole->idx < 0 || hole->idx > lastHoleIdx) {
            if (row.outOfRange++ == 0)
                row.firstOutOfRange = hole->idx;
            continue;
        }
        row.holes.append({ hole->idx, hole.get() });
    }
    std::stable_sort(
        row.holes.begin(), row.holes.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // A later hole of the same number takes the column.
    int kept = 0;
    for (int i = 0; i < row.holes.size(); ++i) {
        if (i + 1 < row.holes.size() && row.holes.at(i + 1).first == row.holes.at(i).first)
            continue;
        row.holes[kept++] = row.holes.at(i);
    }
    row.holes.resize(kept);
}

bool ReportWorkbookWriter::write(const QString &fileName, const Products &products, const Progress &progress)
{
    return writeReportWorkbook(fileName, products, progress, XlsxWorkbook::MaxRows);
}

bool ReportWorkbookWriter::write(const QString &fileName, const Source &source, const Progress &progress)
{
    return writeReportWorkbook(fileName, source, progress, XlsxWorkbook::MaxRows);
}

bool writeReportWorkbook(const QString &fileName, const ReportWorkbookWriter::Products &products,
    const ReportWorkbookWriter::Progress &progress, int sheetRows)
{
    bool given = false;
    const ReportWorkbookWriter::Source all = [&](ReportWorkbookWriter::Products &batch) {
        if (given)
            return ReportWorkbookWriter::Pull::End;
        given = true;
        batch = products; // shares the vector's data, copies nothing
        return ReportWorkbookWriter::Pull::More;
    };
    return writeReportWorkbook(fileName, all, progress, sheetRows);
}

bool writeReportWorkbook(const QString &fileName, const ReportWorkbookWriter::Source &source,
    const ReportWorkbookWriter::Progress &progress, int sheetRows)
{
    ReportSheet sheet(fileName, qBound(2, sheetRows, XlsxWorkbook::MaxRows));
    if (!sheet.isValid())
        return false;
    sheet.writeHeader();
    int done = 0;
    ReportWorkbookWriter::Products batch;
    for (;;) {
        batch.clear();
        const ReportWorkbookWriter::Pull pulled = source(batch);
        if (pulled == ReportWorkbookWriter::Pull::Failed)
            return false;
        for (const auto &product : qAsConst(batch)) {
            if (product)
                sheet.writeProduct(*product);
            if (progress && ++done % ReportWorkbookWriter::ProgressInterval == 0 && !progress(done))
                return false;
        }
        if (pulled == ReportWorkbookWriter::Pull::End)
            break;
    }
    batch.clear();
    if (progress && done % ReportWorkbookWriter::ProgressInterval != 0 && !progress(done))
        return false;
    // Asked again once the file is written, before it replaces an earlier one.
    return sheet.save([&] { return !progress || progress(done); });
}
