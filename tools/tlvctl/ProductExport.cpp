#include "ProductExport.h"

#include "CsvWriter.h"
#include "ProductStream.h"
#include "ReportWorkbookWriter.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

// A line on stderr every few seconds while a long export runs.
class ProgressLine
{
public:
    explicit ProgressLine(const QString &fileName)
        : m_fileName(fileName)
    {
        m_clock.start();
    }
    void operator()(qint64 done, bool last = false)
    {
        if (!last && m_clock.elapsed() < m_next)
            return;
        m_next = m_clock.elapsed() + 5000;
        std::fprintf(stderr, "tlvctl export: %lld products %s %s (%.1f s)\n", static_cast<long long>(done),
            last ? "written to" : "so far for", qUtf8Printable(m_fileName), m_clock.elapsed() / 1000.0);
    }

private:
    QString m_fileName;
    QElapsedTimer m_clock;
    qint64 m_next = 5000;
};

} // namespace

bool ProductExport::toXlsx(const Range &range, const QString &fileName, QString *error)
{
    ProductStream stream(range.db, range.from, range.to, range.search);
    ProgressLine progress(fileName);
    int done = 0;
    const bool saved = ReportWorkbookWriter::write(
        fileName, [&](ReportWorkbookWriter::Products &batch) { return stream.next(batch); },
        [&](int written) {
            done = written;
            progress(written);
            return true;
        });
    if (!saved) {
        *error = stream.error();
        if (error->isEmpty())
            *error = QStringLiteral("cannot write %1 (see above)").arg(fileName);
        return false;
    }
    progress(done, true);
    return true;
}

bool ProductExport::toCsv(const Range &range, const QString &fileName, QString *error)
{
    CsvWriter csv(fileName);
    if (!csv.open(error))
        return false;
    ProductStream stream(range.db, range.from, range.to, range.search);
    ProgressLine progress(fileName);
    qint64 done = 0;
    ReportWorkbookWriter::Products batch;
    ReportWorkbookWriter::Row row;
    QVector<const tlv::HoleInfo *> columns; // the row's holes by hole number
    ReportWorkbookWriter::Pull pulled = ReportWorkbookWriter::Pull::More;
    while (pulled == ReportWorkbookWriter::Pull::More) {
        batch.clear();
        pulled = stream.next(batch);
        if (pulled == ReportWorkbookWriter::Pull::Failed) {
            *error = stream.error();
            return false;
        }
        for (const auto &product : qAsConst(batch)) {
            if (!product)
                continue;
            ReportWorkbookWriter::rowOf(*product, row);
            csv.addField(product->uptime);
            csv.addField(QString::number(product->pid));
            csv.addField(row.material);
            csv.addField(row.order);
            csv.addField(row.result.toString());
            csv.addField(product->psize);
            columns.fill(nullptr, row.holes.isEmpty() ? 0 : row.holes.last().first + 1);
            for (const auto &hole : row.holes)
                columns[hole.first] = hole.second;
            for (const tlv::HoleInfo *hole : qAsConst(columns))
                csv.addField(hole ? hole->value : QString());
            csv.endRecord();
            progress(++done);
        }
    }
    if (!csv.finish({ QStringLiteral("Time"), QStringLiteral("ProductID"), QStringLiteral("Material number"),
                        QStringLiteral("Order number"), QStringLiteral("Result"), QStringLiteral("Length"),
                        QStringLiteral("Diameter") },
            error))
        return false;
    progress(done, true);
    return true;
}
