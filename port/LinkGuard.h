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
//      only for short steps: never across a wait for the reader thread, a Java read's wait for data, a read or write
//      on the device, or a pipe handle's close (rule 2). Because the reader needs only this lock, a closer that
//      waits for the reader to end never blocks it.
//    No lock of the library is ever held across a call that a driver may keep for ever: a CloseHandle of a
//    synchronous handle waits for the call that owns its file object (rule 2 says how the library never makes one).
//
// 2. Pipe handles are used through leases. Every pipe handle the library opens is adopted into a table. A thread
//    that uses a pipe handle outside the lock (a Java write or native read, a control request, the suspend and
//    resume commands) first takes a lease by the handle's value; the lease fails, as Windows fails a handle that is
//    not open, with ERROR_INVALID_HANDLE, when the table does not hold that value. Closing a pipe handle retires it,
//    in two steps: under the lock that decides the close it goes out of service (no new lease can be taken); then,
//    with no lock of the library held, the I/O in flight on it is cancelled until every lease has been returned, or
//    for at most half a second, and the handle is closed. A lease still out by then is held by a call blocked inside
//    a driver that ignores cancellation. On Windows that call owns the file object, and the close of a synchronous
//    handle would wait for it to return, for ever if the driver keeps it: so the handle stays open, out of service,
//    and the holder closes it as it returns the last lease. A value is never used after its close, a value Java got
//    from somewhere else (or closed twice) is never touched, and one stuck call blocks nobody but its own thread.
//
// 3. The receive machinery (ring buffer and the three events) is used through receive leases. A Java read holds one
//    for its whole timed wait. Before the machinery is released, it is withdrawn: no new receive lease can be taken,
//    the stop event is set (it wakes every timed read, which then leaves), the teardown waits for the receive leases
//    to come back, and waits for the reader thread to have ended. Only then are the buffer deleted and the events
//    closed. A read that starts afterwards finds no machinery and fails at once.
//
// The reader thread needs no lease: it is the only thread that reads the printer-class read handle, and nothing it
// uses is released before it has ended. Its reads are its own, as Windows makes a thread's pending requests: a read
// whose cancel a driver ignored keeps its block, OVERLAPPED record and event on the reader's own list, and when the
// reader's loop has ended with such a read still pending, the reader closes the read handle itself (the read handle
// is overlapped, so its close never waits), whose cleanup ends the read; only an ended read's memory is freed.
//
// Every lock here is a CLock (port/Lock.h): a critical section whose release keeps the thread's last error, so that
// the code of a failed call reaches Java however many locks are released before the export returns.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <map>

#include "port/Lock.h"

class CLinkGuard;

// The right to use one pipe handle until the lease is destroyed.
class CHandleLease {
public:
    CHandleLease() = default;
    CHandleLease(CLinkGuard *pGuard, HANDLE hHandle, unsigned long long nAdoption);
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
    unsigned long long m_nAdoption = 0;
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
    // Rule 1. Taken in this order; the lease table's own lock comes last and is never held across anything else.
    CLock m_lifecycleLock ACQUIRED_BEFORE(m_replaceLock);
    CLock m_replaceLock ACQUIRED_BEFORE(m_tableLock);

    // Rule 2.
    void Adopt(HANDLE hHandle) EXCLUDES(m_tableLock);
    bool IsAdopted(HANDLE hHandle) EXCLUDES(m_tableLock);
    // A lease on an adopted handle; empty, with last error ERROR_INVALID_HANDLE, for any other value.
    CHandleLease Lease(HANDLE hHandle) EXCLUDES(m_tableLock);
    // The named release of every pipe handle the library opened, in two steps so that no lock of the library need
    // be held across the second: Withdraw, under whatever lock decides that the handle goes, takes it out of service
    // (no new lease, no second retire); CloseWithdrawn, with no lock of the library held, cancels its I/O while
    // leases are out and closes it. Both false, with ERROR_INVALID_HANDLE, for a value the table does not hold (or
    // holds out of service already); CloseWithdrawn also with the code of a failed CloseHandle.
    //
    // The wait for the leases is bounded. A lease still out after the bound belongs to a call blocked inside a driver
    // that ignores cancellation. Such a call owns its file object, and Windows' CloseHandle of a synchronous handle
    // waits until the call returns, for ever if the driver keeps it; so the handle is not closed then: it stays open,
    // out of service, and the last lease to be returned closes it (rule 2).
    bool Withdraw(HANDLE hHandle) EXCLUDES(m_tableLock);
    bool CloseWithdrawn(HANDLE hHandle) EXCLUDES(m_tableLock);
    // Both steps at once, for a caller that holds no lock of the library.
    bool Retire(HANDLE hHandle) EXCLUDES(m_tableLock);

    // Rule 3.
    void OfferReceive() EXCLUDES(m_tableLock);
    // Withdraws the machinery and waits until no receive lease is held, setting the stop event so that waiting
    // readers wake up.
    void WithdrawReceive(HANDLE hStopEvent) EXCLUDES(m_tableLock);

private:
    friend class CHandleLease;
    friend class CReceiveLease;
    void ReturnLease(HANDLE hHandle, unsigned long long nAdoption) EXCLUDES(m_tableLock);
    bool TakeReceiveLease() EXCLUDES(m_tableLock);
    void ReturnReceiveLease() EXCLUDES(m_tableLock);

    struct Entry {
        HANDLE hHandle;
        // Which adoption of this value the entry is: a lease that comes back after its handle was closed, and the
        // value given to a new handle, must not count against the new one.
        unsigned long long nAdoption;
        int nLeases;
        bool bRetiring;
        // The retire gave up waiting for the leases: the last one to come back closes the handle.
        bool bCloseWithLastLease;
    };

    CLock m_tableLock;
    std::condition_variable_any m_leaseReturned;
    std::map<DWORD, Entry> m_leases GUARDED_BY(m_tableLock);  // adopted handles by their low 32 bits
    unsigned long long m_nAdoptions GUARDED_BY(m_tableLock) = 0;
    bool m_bReceiveOffered GUARDED_BY(m_tableLock) = false;
    int m_nReceiveLeases GUARDED_BY(m_tableLock) = 0;
};
