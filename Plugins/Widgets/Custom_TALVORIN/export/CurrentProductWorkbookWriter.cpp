#include "CurrentProductWorkbookWriter.h"

#include "XlsxWorkbook.h"

#include <QDebug>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

// How many of the smallest and of the largest diameters are marked.
int markedCount(int n)
{
    if (n < 2)
        return 0;
    if (n < 4)
        return 1;
    if (n < 6)
        return 2;
    if (n < 8)
        return 3;
    return 4;
}

void writeHeader(XlsxWorkbook &book)
{
    const QStringList headers = QStringLiteral("order,value,result,postion,,length,value")
                                    .split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (int c = 0; c < headers.size(); ++c) {
        if (headers.at(c).isEmpty())
            book.writeEmptyText(1, c + 1);
        else
            book.write(1, c + 1, headers.at(c));
    }
}

// The diameters in ascending order, without NaN: a NaN diameter has no rank, and sorting it with
// the others would not even be well defined.
QVector<double> rankedDiameters(const QString &fileName, const QList<HoleEntry> &holes)
{
    QVector<double> sorted;
    sorted.reserve(holes.size());
    for (const HoleEntry &hole : holes) {
        if (!std::isnan(hole.value))
            sorted.append(hole.value);
    }
    std::sort(sorted.begin(), sorted.end());
    if (sorted.size() < holes.size())
        qCritical().noquote() << QStringLiteral(
            "%1: %2 hole diameter(s) are NaN; they are ranked with neither the "
            "smallest nor the largest")
                                     .arg(fileName)
                                     .arg(holes.size() - sorted.size());
    return sorted;
}

void logLeftOut(const QString &fileName, int count, const char *what)
{
    const int rowsForData = XlsxWorkbook::MaxRows - 1;
    if (count > rowsForData)
        qCritical().noquote() << QStringLiteral(
            "%1: the sheet holds %2 rows; %3 %4 after the first %5 were left out")
                                     .arg(fileName)
                                     .arg(XlsxWorkbook::MaxRows)
                                     .arg(count - rowsForData)
                                     .arg(QLatin1String(what))
                                     .arg(rowsForData);
}

void writeHoles(XlsxWorkbook &book, const QString &fileName, const QList<HoleEntry> &holes)
{
    using Style = XlsxWorkbook::Style;
    const QVector<double> sorted = rankedDiameters(fileName, holes);
    const int n = sorted.size();
    const int k = markedCount(n);
    for (int i = 0; i < holes.size() && i < XlsxWorkbook::MaxRows - 1; ++i) {
        const HoleEntry &hole = holes.at(i);
        const int row = 2 + i;
        Style colour = Style::Centred;
        if (k > 0 && hole.value < sorted.at(k))
            colour = Style::DarkYellow;
        else if (k > 0 && hole.value >= sorted.at(n - k))
            colour = Style::Blue;
        book.write(row, 1, qint64(hole.idx) + 1);
        book.write(row, 3, hole.status ? QStringLiteral("OK") : QStringLiteral("NG"),
            hole.status ? Style::Centred : Style::Red);
        book.write(row, 4, double(hole.position));
        book.write(row, 2, hole.value, colour);
    }
    logLeftOut(fileName, holes.size(), "hole(s)");
}

void writeValueLines(XlsxWorkbook &book, const QString &fileName, const QStringList &valueLines)
{
    for (int i = 0; i < valueLines.size() && i < XlsxWorkbook::MaxRows - 1; ++i) {
        const QVector<QStringRef> parts = valueLines.at(i).splitRef(QLatin1Char(':'), Qt::KeepEmptyParts);
        book.write(2 + i, 6, parts.at(0).toString());
        if (parts.size() > 1)
            book.write(2 + i, 7, parts.at(1).toString());
    }
    logLeftOut(fileName, valueLines.size(), "size line(s)");
}

} // namespace

bool CurrentProductWorkbookWriter::write(
    const QString &fileName, const QList<HoleEntry> &holes, const QStringList &valueLines)
{
    XlsxWorkbook book(fileName);
    if (!book.isValid())
        return false;
    writeHeader(book);
    writeHoles(book, fileName, holes);
    writeValueLines(book, fileName, valueLines);
    return book.save();
}
