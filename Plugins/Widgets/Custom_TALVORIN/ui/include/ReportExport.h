#pragma once

#include "ReportWorkbookWriter.h"

#include <QString>

// The report's export once the file is chosen: writes the workbook, passing progress on, and
// then shows the file in the file manager, whether the save succeeded or not, unless it was
// cancelled. A cancelled or failed export leaves no file behind (an earlier file of that name
// stays as it was) and is logged.
class ReportExport
{
public:
    enum class Outcome { Saved, Cancelled, Failed };
    using Progress = ReportWorkbookWriter::Progress;

    // Writes on the calling thread; progress is told how many products are done, false cancels.
    static Outcome run(const QString &fileName, const ReportWorkbookWriter::Products &products,
        const Progress &progress = {});
    // Writes on a thread of its own while the calling thread runs a local event loop (timers and
    // painting, user input only through what tick does), calling tick with the products done
    // every 50 ms; false from tick cancels. Cancelling while the file is being saved still keeps
    // an earlier file: the save runs to its end and is then thrown away.
    static Outcome runInBackground(
        const QString &fileName, const ReportWorkbookWriter::Products &products, const Progress &tick);

private:
    static Outcome write(
        const QString &fileName, const ReportWorkbookWriter::Products &products, const Progress &progress);
};
