#include "FindSequence.h"

void FindSequence::requestSent()
{
    m_latest.store(++m_sent);
    m_dropUpTo = m_emitted.load();
}

void FindSequence::cancelAll()
{
    m_cancelledUpTo.store(m_sent);
    m_dropUpTo = m_emitted.load();
}

bool FindSequence::acceptDelivery()
{
    return ++m_received > m_dropUpTo;
}

int FindSequence::requestStarted()
{
    return ++m_started;
}

bool FindSequence::isCurrent(int request) const
{
    return request == m_latest.load() && request > m_cancelledUpTo.load();
}

bool FindSequence::claimBatch(int request)
{
    m_emitted.fetch_add(1);
    return isCurrent(request);
}

bool FindSequence::latestFailed() const
{
    return m_failed.load() == m_sent;
}

void FindSequence::readFailed(int request)
{
    m_failed.store(request);
}
