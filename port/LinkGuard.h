// How the link's handles, events and ring buffer stay alive while other threads use them.
//
// Four kinds of thread touch the port state at once: Java callers (open, close, read, write, control requests),
// the reader thread (reads, and its own reconnect that replaces both pipe handles), and the power thread (the
// suspend close, the resume's reopen, the two printer commands). Windows hands a closed handle's value to the next
// object it creates, so a thread that reads a handle field and uses the value after another thread closed it may
// reach a different object. Three rules keep that from happening:
//
// 1. Replacement is serialised, by two locks taken in this order:
//    - the lifecycle lock serialises the opens, the closes, the suspend close and the resume's reopens with one
//      another, each held for the whole operation including its bounded waits for the reader thread. It is never
//      held while the power handler starts (the start may wait for an old power thread that is still inside a
//      handler, which needs this lock), nor by the reader thread;
//    - the replacement lock is held for every change of a pipe handle field, an event field, the ring buffer pointer
//      or the path buffer m_szDevicePath, by the lifecycle operations and by the reader's own reconnect. It is held
//      only for short steps: never across a wait for the reader thread, a Java read's wait for data, or a read or
//      write on the device. Because the reader needs only this lock, a closer that waits for the reader to end
//      never blocks it.
//
// 2. Pipe handles are used through leases. Every pipe handle the library opens is adopted into a table. A thread
//    that uses a pipe handle outside the lock (a Java write or native read, a control request, the suspend and
//    resume commands) first takes a lease by the handle's value; the lease fails, as Windows fails a handle that is
//    not open, with ERROR_INVALID_HANDLE, when the table does not hold that value. Closing a pipe handle retires it:
//    it leaves the table (no new lease can be taken), the I/O in flight on it is cancelled until every lease has
//    been returned, and only then is the handle closed. So a value is never used after its close, and a value that
//    Java got from somewhere else (or closed twice) is never touched.
//
// 3. The receive machinery (ring buffer and the three events) is used through receive leases. A Java read holds one
//    for its whole timed wait. Before the machinery is released, it is withdrawn: no new receive lease can be taken,
//    the stop event is set (it wakes every timed read, which then leaves), the teardown waits for the receive leases
//    to come back, and waits for the reader thread to have ended (its pending read cancelled). Only then are the
//    buffer deleted and the events closed. A read that starts afterwards finds no machinery and fails at once.
//
// The reader thread needs no lease: it is the only thread that reads the printer-class read handle, and nothing it
// uses is released before it has ended.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <map>
#include <mutex>

class CLinkGuard;

// The right to use one pipe handle until the lease is destroyed.
class CHandleLease {
public:
    CHandleLease() = default;
    CHandleLease(CLinkGuard *pGuard, HANDLE hHandle);
    CHandleLease(CHandleLease &&other) noexcept;
    CHandleLease &operator=(CHandleLease &&other) noexcept;
    CHandleLease(const CHandleLease &) = delete;
    CHandleLease &operator=(const CHandleLease &) = delete;
    ~CHandleLease();

    explicit operator bool() const { return m_pGuard != nullptr; }
    HANDLE Get() const { return m_hHandle; }

private:
    void Release();
    CLinkGuard *m_pGuard = nullptr;
    HANDLE m_hHandle = nullptr;
};

// The right to use the ring buffer and the three events until the lease is destroyed.
class CReceiveLease {
public:
    explicit CReceiveLease(CLinkGuard &guard);
    CReceiveLease(const CReceiveLease &) = delete;
    CReceiveLease &operator=(const CReceiveLease &) = delete;
    ~CReceiveLease();

    explicit operator bool() const { return m_bHeld; }

private:
    CLinkGuard &m_guard;
    bool m_bHeld;
};

class CLinkGuard {
public:
    // Rule 1.
    std::mutex &LifecycleLock() { return m_lifecycleLock; }
    std::recursive_mutex &ReplaceLock() { return m_replaceLock; }

    // Rule 2.
    void Adopt(HANDLE hHandle);
    bool IsAdopted(HANDLE hHandle);
    // A lease on an adopted handle; empty, with last error ERROR_INVALID_HANDLE, for any other value.
    CHandleLease Lease(HANDLE hHandle);
    // Takes the handle out of the table, cancels its I/O until its leases are back, and closes it. Returns the
    // CloseHandle result; FALSE with ERROR_INVALID_HANDLE for a value the table does not hold.
    BOOL Retire(HANDLE hHandle);

    // Rule 3.
    void OfferReceive();
    // Withdraws the machinery and waits until no receive lease is held, setting the stop event so that waiting
    // readers wake up.
    void WithdrawReceive(HANDLE hStopEvent);

private:
    friend class CHandleLease;
    friend class CReceiveLease;
    void ReturnLease(HANDLE hHandle);
    bool TakeReceiveLease();
    void ReturnReceiveLease();

    std::mutex m_lifecycleLock;
    std::recursive_mutex m_replaceLock;

    struct Entry {
        HANDLE hHandle;
        int nLeases;
        bool bRetiring;
    };

    std::mutex m_tableLock;
    std::condition_variable m_leaseReturned;
    std::map<DWORD, Entry> m_leases;  // adopted handles by their low 32 bits
    bool m_bReceiveOffered = false;
    int m_nReceiveLeases = 0;
};
