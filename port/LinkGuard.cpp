#include "port/LinkGuard.h"

#include "trace/Trace.h"

#include <chrono>
#include <utility>

namespace {

// Handles are compared by their low 32 bits: that is what travels to Java and back.
DWORD HandleKey(HANDLE hHandle) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hHandle)); }

// How often a retiring handle's I/O is cancelled again while a lease holder has not yet returned its lease: a
// holder may start its read or write just after a cancel.
const auto RETIRE_CANCEL_INTERVAL = std::chrono::milliseconds(2);
// How long a retire cancels before it closes the handle under a call that ignores the cancels.
const auto RETIRE_CANCEL_BOUND = std::chrono::milliseconds(500);

}  // namespace

// ---- CHandleLease ----

CHandleLease::CHandleLease(CLinkGuard *pGuard, HANDLE hHandle, unsigned long long nAdoption)
    : m_pGuard(pGuard), m_hHandle(hHandle), m_nAdoption(nAdoption) {}

CHandleLease::CHandleLease(CHandleLease &&other) noexcept
    : m_pGuard(std::exchange(other.m_pGuard, nullptr)),
      m_hHandle(std::exchange(other.m_hHandle, nullptr)),
      m_nAdoption(std::exchange(other.m_nAdoption, 0)) {}

CHandleLease &CHandleLease::operator=(CHandleLease &&other) noexcept {
    if (this != &other) {
        Release();
        m_pGuard = std::exchange(other.m_pGuard, nullptr);
        m_hHandle = std::exchange(other.m_hHandle, nullptr);
        m_nAdoption = std::exchange(other.m_nAdoption, 0);
    }
    return *this;
}

CHandleLease::~CHandleLease() { Release(); }

void CHandleLease::Release() {
    if (m_pGuard == nullptr) return;
    // The holder has usually just failed a call: its error must survive the return of the lease.
    DWORD dwError = GetLastError();
    m_pGuard->ReturnLease(m_hHandle, m_nAdoption);
    SetLastError(dwError);
    m_pGuard = nullptr;
    m_hHandle = nullptr;
}

// ---- CReceiveLease ----

CReceiveLease::CReceiveLease(CLinkGuard &guard) : m_guard(guard), m_bHeld(guard.TakeReceiveLease()) {}

CReceiveLease::~CReceiveLease() {
    if (!m_bHeld) return;
    DWORD dwError = GetLastError();
    m_guard.ReturnReceiveLease();
    SetLastError(dwError);
}

// ---- CLinkGuard: pipe handles ----

void CLinkGuard::Adopt(HANDLE hHandle) {
    if (hHandle == nullptr || hHandle == INVALID_HANDLE_VALUE) return;
    CLockHolder lock(m_tableLock);
    m_leases[HandleKey(hHandle)] = Entry{hHandle, ++m_nAdoptions, 0, false, false};
}

bool CLinkGuard::IsAdopted(HANDLE hHandle) {
    CLockHolder lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    return it != m_leases.end() && !it->second.bRetiring;
}

CHandleLease CLinkGuard::Lease(HANDLE hHandle) {
    CLockHolder lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    if (hHandle == nullptr || it == m_leases.end() || it->second.bRetiring) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CHandleLease();
    }
    ++it->second.nLeases;
    return CHandleLease(this, it->second.hHandle, it->second.nAdoption);
}

void CLinkGuard::ReturnLease(HANDLE hHandle, unsigned long long nAdoption) {
    HANDLE hToClose = nullptr;
    {
        CLockHolder lock(m_tableLock);
        auto it = m_leases.find(HandleKey(hHandle));
        if (it == m_leases.end() || it->second.nAdoption != nAdoption) return;
        --it->second.nLeases;
        if (it->second.bRetiring) m_leaseReturned.notify_all();
        // The last lease of a handle whose retire gave up on it: its call has returned, so the close the retire left
        // to it can no longer wait for anything.
        if (it->second.bCloseWithLastLease && it->second.nLeases == 0) {
            hToClose = it->second.hHandle;
            m_leases.erase(it);
        }
    }
    if (hToClose == nullptr) return;
    Trace("close h=%d deferred_close=done", TraceHandle(hToClose));
    CloseHandle(hToClose);
}

bool CLinkGuard::Withdraw(HANDLE hHandle) {
    CLockHolder lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    if (hHandle == nullptr || it == m_leases.end() || it->second.bRetiring) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    it->second.bRetiring = true;
    return true;
}

bool CLinkGuard::CloseWithdrawn(HANDLE hHandle) {
    CLockHolder lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    if (it == m_leases.end() || !it->second.bRetiring || it->second.bCloseWithLastLease) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    HANDLE hHeld = it->second.hHandle;
    auto giveUp = std::chrono::steady_clock::now() + RETIRE_CANCEL_BOUND;
    while (it->second.nLeases > 0 && std::chrono::steady_clock::now() < giveUp) {
        lock.unlock();
        CancelIoEx(hHeld, nullptr);
        lock.lock();
        if (it->second.nLeases > 0) m_leaseReturned.wait_for(lock, RETIRE_CANCEL_INTERVAL);
    }
    Trace("close h=%d leases_out=%d", TraceHandle(hHeld), it->second.nLeases);
    if (it->second.nLeases > 0) {
        // A call blocked in a driver that ignores cancellation holds the file object, and on a synchronous handle
        // Windows' CloseHandle would wait for that call to return, for ever if the driver keeps it. The handle stays
        // open, out of every lookup, and the last lease to come back closes it; its value cannot be given to
        // anything else meanwhile, since it is still open.
        it->second.bCloseWithLastLease = true;
        return true;
    }
    m_leases.erase(it);
    lock.unlock();
    // Closed only now that it has left the table: the value may be reused from this moment on.
    return CloseHandle(hHeld) != FALSE;
}

bool CLinkGuard::Retire(HANDLE hHandle) { return Withdraw(hHandle) && CloseWithdrawn(hHandle); }

// ---- CLinkGuard: receive machinery ----

void CLinkGuard::OfferReceive() {
    CLockHolder lock(m_tableLock);
    m_bReceiveOffered = true;
}

void CLinkGuard::WithdrawReceive(HANDLE hStopEvent) {
    CLockHolder lock(m_tableLock);
    m_bReceiveOffered = false;
    while (m_nReceiveLeases > 0) {
        lock.unlock();
        // A read that took its lease just before the withdrawal may not yet wait; the event stays set for it.
        if (hStopEvent != nullptr) SetEvent(hStopEvent);
        lock.lock();
        if (m_nReceiveLeases > 0) m_leaseReturned.wait_for(lock, RETIRE_CANCEL_INTERVAL);
    }
}

bool CLinkGuard::TakeReceiveLease() {
    CLockHolder lock(m_tableLock);
    if (!m_bReceiveOffered) return false;
    ++m_nReceiveLeases;
    return true;
}

void CLinkGuard::ReturnReceiveLease() {
    CLockHolder lock(m_tableLock);
    --m_nReceiveLeases;
    m_leaseReturned.notify_all();
}
