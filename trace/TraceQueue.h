// The bounded queue between the threads that see events and the trace writer. A push copies one record under a
// short critical section and never waits for the writer: when the queue is full the event is only counted. The
// writer takes everything at once by exchanging storage with the queue, so that it holds the lock for no copy.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <vector>

#include "port/Lock.h"
#include "trace/TraceRecord.h"

class CTraceQueue {
public:
    explicit CTraceQueue(size_t nCapacity);

    // False when the queue was full; the event is then counted as dropped.
    bool Push(const STraceRecord &record) EXCLUDES(m_lock);
    // Waits at most dwWaitMs for records (or a stop), then hands every queued record, oldest first, to *pBatch
    // (whose earlier contents are discarded) and returns how many events were dropped since the last take.
    // *pbStop tells that the writer was asked to end.
    unsigned long long Take(std::vector<STraceRecord> *pBatch, DWORD dwWaitMs, bool *pbStop) EXCLUDES(m_lock);
    void RequestStop() EXCLUDES(m_lock);
    // For the next writer.
    void ClearStop() EXCLUDES(m_lock);

private:
    const size_t m_nCapacity;
    CLock m_lock;
    std::condition_variable_any m_wake;
    // Reserved to the capacity, like every batch handed out in exchange: a push never allocates.
    std::vector<STraceRecord> m_records GUARDED_BY(m_lock);
    unsigned long long m_nDropped GUARDED_BY(m_lock) = 0;
    bool m_bStop GUARDED_BY(m_lock) = false;
};
