#pragma once

#include "ReportWorkbookWriter.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The products of a time range, found as the report finds them (through the history index where
// the file has one, the barcode search with bound values), read on a thread of their own through a
// read-only connection and handed out batch by batch. At most a few batches wait, so memory stays
// flat while the reader runs ahead of the writer. The batches the writer is done with go back to
// the reading thread to be freed, so the writer's time, which is the export's, is spent writing.
class ProductStream
{
public:
    ProductStream(const QString &dbPath, const QString &from, const QString &to, const QString &search);
    ~ProductStream();

    ProductStream(const ProductStream &) = delete;
    ProductStream &operator=(const ProductStream &) = delete;

    // Waits for the next batch.
    ReportWorkbookWriter::Pull next(ReportWorkbookWriter::Products &batch);
    // Why the stream failed.
    QString error() const;

private:
    void read(const QString &dbPath, const QString &from, const QString &to, const QString &search);

    static constexpr size_t maxWaiting = 16;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ReportWorkbookWriter::Products> m_waiting;
    ReportWorkbookWriter::Products m_lent; // the writer's batch, kept so that it frees nothing
    std::deque<ReportWorkbookWriter::Products> m_written; // for the reading thread to free
    bool m_ended = false;
    bool m_failed = false;
    bool m_stopping = false;
    QString m_error;
    std::thread m_thread;
};
