#include "trace/TraceQueue.h"

#include <chrono>

CTraceQueue::CTraceQueue(size_t nCapacity) : m_nCapacity(nCapacity) {
    CLockHolder lock(m_lock);
    m_records.reserve(nCapacity);
}

bool CTraceQueue::Push(const STraceRecord &record) {
    bool bWake;
    {
        CLockHolder lock(m_lock);
        if (m_records.size() >= m_nCapacity) {
            ++m_nDropped;
            return false;
        }
        m_records.push_back(record);
        // The writer looks on its own every few milliseconds; it is woken early only when the queue fills up.
        bWake = m_records.size() == m_nCapacity / 2;
    }
    if (bWake) m_wake.notify_one();
    return true;
}

unsigned long long CTraceQueue::Take(std::vector<STraceRecord> *pBatch, DWORD dwWaitMs, bool *pbStop) {
    pBatch->clear();
    pBatch->reserve(m_nCapacity);
    CLockHolder lock(m_lock);
    if (m_records.empty() && !m_bStop) m_wake.wait_for(lock, std::chrono::milliseconds(dwWaitMs));
    m_records.swap(*pBatch);
    *pbStop = m_bStop;
    unsigned long long nDropped = m_nDropped;
    m_nDropped = 0;
    return nDropped;
}

void CTraceQueue::RequestStop() {
    {
        CLockHolder lock(m_lock);
        m_bStop = true;
    }
    m_wake.notify_one();
}

void CTraceQueue::ClearStop() {
    CLockHolder lock(m_lock);
    m_bStop = false;
}
