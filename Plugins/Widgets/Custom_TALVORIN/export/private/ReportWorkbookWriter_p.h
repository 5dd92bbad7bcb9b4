#pragma once

#include "ReportWorkbookWriter.h"

// For tests: ReportWorkbookWriter::write() with sheets of sheetRows rows, the header row among
// them (kept within 2 and XlsxWorkbook::MaxRows), so that a few products fill further sheets.
bool writeReportWorkbook(const QString &fileName, const ReportWorkbookWriter::Products &products,
    const ReportWorkbookWriter::Progress &progress, int sheetRows);
bool writeReportWorkbook(const QString &fileName, const ReportWorkbookWriter::Source &source,
    const ReportWorkbookWriter::Progress &progress, int sheetRows);
