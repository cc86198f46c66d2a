#include "trace/TraceQueue.h"

#include <chrono>

CTraceQueue::CTraceQueue(size_t nCapacity) : m_slots(nCapacity) {}

bool CTraceQueue::Push(const STraceRecord &record) {
    bool bWake;
    {
        CLockHolder lock(m_lock);
        if (m_nCount == m_slots.size()) {
            ++m_nDropped;
            return false;
        }
        m_slots[(m_nHead + m_nCount) % m_slots.size()] = record;
        ++m_nCount;
        // The writer looks on its own every few milliseconds; it is woken early only when the queue fills up.
        bWake = m_nCount == m_slots.size() / 2;
    }
    if (bWake) m_wake.notify_one();
    return true;
}

unsigned long long CTraceQueue::Take(std::vector<STraceRecord> *pBatch, DWORD dwWaitMs, bool *pbStop) {
    CLockHolder lock(m_lock);
    if (m_nCount == 0 && !m_bStop) m_wake.wait_for(lock, std::chrono::milliseconds(dwWaitMs));
    pBatch->clear();
    for (; m_nCount > 0; --m_nCount) {
        pBatch->push_back(m_slots[m_nHead]);
        m_nHead = (m_nHead + 1) % m_slots.size();
    }
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
