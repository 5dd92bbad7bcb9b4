#pragma once

#include <QtGlobal>

#include <atomic>

// Tells the report dialog which of the worker's batches answer its latest find, without giving
// the batches an identity of their own. The dialog numbers its requests; the worker answers
// them in order, so it knows the number of the query it runs, and numbers every batch it emits.
// Batches arrive in the order of emission, so the dialog recognises a batch by its place.
//
// A batch is numbered before the worker checks that its query is still the latest; a dialog
// that sends a newer request reads the batch count after publishing the request. Either the
// worker sees the newer request (and emits an empty batch in that place, then stops), or the
// dialog's count includes the batch and drops it.
class FindSequence
{
public:
    // GUI thread: a new request is about to be sent.
    void requestSent();
    // GUI thread: every query sent so far is abandoned (the dialog closed).
    void cancelAll();
    // GUI thread, once per delivered batch: whether it answers the latest request.
    bool acceptDelivery();
    // GUI thread: whether the latest request's rows ended on a read error.
    bool latestFailed() const;

    // Worker thread: a request starts; gives its number.
    int requestStarted();
    // Worker thread: whether the request is still the latest and not cancelled.
    bool isCurrent(int request) const;
    // Worker thread, right before an emission: numbers the batch; false when it is stale.
    bool claimBatch(int request);
    // Worker thread, before the batch that tells the dialog: the request's rows ended on a read
    // error; it delivers no last batch.
    void readFailed(int request);

private:
    std::atomic<int> m_latest { 0 };
    std::atomic<int> m_cancelledUpTo { 0 };
    std::atomic<quint64> m_emitted { 0 };
    std::atomic<int> m_failed { 0 };
    int m_sent = 0;
    quint64 m_received = 0;
    quint64 m_dropUpTo = 0;
    int m_started = 0;
};
