#include "CapabilityWorkbookWriter.h"

#include "XlsxWorkbook.h"

#include <cmath>
#include <limits>

const QString CapabilityWorkbookWriter::sheetName = QStringLiteral("过程能力");

QStringList CapabilityWorkbookWriter::headers()
{
    return { QStringLiteral("特性"), QStringLiteral("n"), QStringLiteral("均值"), QStringLiteral("σ组内"),
        QStringLiteral("σ整体"), QStringLiteral("下限"), QStringLiteral("上限"), QStringLiteral("Cp"),
        QStringLiteral("Cpk"), QStringLiteral("Pp"), QStringLiteral("Ppk"), QStringLiteral("NG数") };
}

bool CapabilityWorkbookWriter::write(const QString &fileName, const QVector<CharacteristicCapability> &rows)
{
    XlsxWorkbook book(fileName, false, sheetName);
    if (!book.isValid())
        return false;
    const QStringList titles = headers();
    for (int c = 0; c < titles.size(); ++c)
        book.write(1, c + 1, titles.at(c));
    const auto number = [&book](int row, int column, double value) {
        if (std::isfinite(value))
            book.write(row, column, value);
    };
    const double noLimit = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < rows.size() && i < XlsxWorkbook::MaxRows - 1; ++i) {
        const CharacteristicCapability &c = rows.at(i);
        const int row = 2 + i;
        book.write(row, 1, c.name);
        book.write(row, 2, c.statistics.n);
        number(row, 3, c.statistics.mean);
        number(row, 4, c.statistics.sigmaWithin);
        number(row, 5, c.statistics.sigmaOverall);
        number(row, 6, c.hasLimits ? c.limits.low : noLimit);
        number(row, 7, c.hasLimits ? c.limits.up : noLimit);
        number(row, 8, c.indices.cp);
        number(row, 9, c.indices.cpk);
        number(row, 10, c.indices.pp);
        number(row, 11, c.indices.ppk);
        if (c.ngCount >= 0)
            book.write(row, 12, c.ngCount);
    }
    return book.save();
}
