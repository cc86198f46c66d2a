// The library's own lock: a Win32 critical section (recursive, owned by the thread that took it), for the locks that
// keep handles alive while other threads use them (LinkGuard.h) and the power handler's locks.
#pragma once

#include <windows.h>

#include "port/ThreadSafety.h"

class CAPABILITY("mutex") CLock {
public:
    CLock() { InitializeCriticalSection(&m_section); }
    ~CLock() { DeleteCriticalSection(&m_section); }
    CLock(const CLock &) = delete;
    CLock &operator=(const CLock &) = delete;

    void lock() ACQUIRE() { EnterCriticalSection(&m_section); }
    // On Windows a release may change the thread's last error. A failure's code must reach Java however many locks
    // are released between the failing call and the export's return, so every release keeps it.
    void unlock() RELEASE() {
        DWORD dwError = GetLastError();
        LeaveCriticalSection(&m_section);
        SetLastError(dwError);
    }

private:
    CRITICAL_SECTION m_section;
};

// Holds a lock for a scope; unlock() and lock() let a wait give it up for a while.
class SCOPED_CAPABILITY CLockHolder {
public:
    explicit CLockHolder(CLock &lock) ACQUIRE(lock) : m_lock(lock) { m_lock.lock(); }
    ~CLockHolder() RELEASE() {
        if (m_bHeld) m_lock.unlock();
    }
    CLockHolder(const CLockHolder &) = delete;
    CLockHolder &operator=(const CLockHolder &) = delete;

    void lock() ACQUIRE() {
        m_lock.lock();
        m_bHeld = true;
    }
    void unlock() RELEASE() {
        m_bHeld = false;
        m_lock.unlock();
    }

private:
    CLock &m_lock;
    bool m_bHeld = true;
};
