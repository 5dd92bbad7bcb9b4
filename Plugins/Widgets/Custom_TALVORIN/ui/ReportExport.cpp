#include "ReportExport.h"

#include "FileReveal.h"

#include <QDebug>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

ReportExport::Outcome ReportExport::write(
    const QString &fileName, const ReportWorkbookWriter::Products &products, const Progress &progress)
{
    int done = 0;
    bool cancelled = false;
    const bool saved = ReportWorkbookWriter::write(fileName, products, [&](int n) {
        done = n;
        cancelled = progress && !progress(n);
        return !cancelled;
    });
    if (cancelled) {
        qInfo().noquote() << QStringLiteral(
            "Export to %1 cancelled after %2 of %3 products; no file was written")
                                 .arg(fileName)
                                 .arg(done)
                                 .arg(products.size());
        return Outcome::Cancelled;
    }
    // The workbook has logged why it could not be saved.
    return saved ? Outcome::Saved : Outcome::Failed;
}

ReportExport::Outcome ReportExport::run(
    const QString &fileName, const ReportWorkbookWriter::Products &products, const Progress &progress)
{
    const Outcome outcome = write(fileName, products, progress);
    if (outcome != Outcome::Cancelled)
        FileReveal::reveal(fileName);
    return outcome;
}

ReportExport::Outcome ReportExport::runInBackground(
    const QString &fileName, const ReportWorkbookWriter::Products &products, const Progress &tick)
{
    // The records are never changed once emitted, and products keeps them alive until the end.
    std::atomic<int> done { 0 };
    std::atomic<bool> stop { false };
    Outcome outcome = Outcome::Failed;
    std::unique_ptr<QThread> writer(QThread::create([&] {
        outcome = write(fileName, products, [&](int n) {
            done = n;
            return !stop;
        });
    }));
    QEventLoop loop;
    QObject::connect(writer.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (!tick(done))
            stop = true;
    });
    writer->start();
    timer.start(50);
    // A click meant for the window under the progress dialog must not start a second export.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    writer->wait();
    if (outcome != Outcome::Cancelled)
        FileReveal::reveal(fileName);
    return outcome;
}
