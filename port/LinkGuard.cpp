#include "port/LinkGuard.h"

#include <chrono>
#include <utility>

namespace {

// Handles are compared by their low 32 bits: that is what travels to Java and back.
DWORD HandleKey(HANDLE hHandle) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hHandle)); }

// How often a retiring handle's I/O is cancelled again while a lease holder has not yet returned its lease: a
// holder may start its read or write just after a cancel.
const auto RETIRE_CANCEL_INTERVAL = std::chrono::milliseconds(2);

}  // namespace

// ---- CHandleLease ----

CHandleLease::CHandleLease(CLinkGuard *pGuard, HANDLE hHandle) : m_pGuard(pGuard), m_hHandle(hHandle) {}

CHandleLease::CHandleLease(CHandleLease &&other) noexcept
    : m_pGuard(std::exchange(other.m_pGuard, nullptr)), m_hHandle(std::exchange(other.m_hHandle, nullptr)) {}

CHandleLease &CHandleLease::operator=(CHandleLease &&other) noexcept {
    if (this != &other) {
        Release();
        m_pGuard = std::exchange(other.m_pGuard, nullptr);
        m_hHandle = std::exchange(other.m_hHandle, nullptr);
    }
    return *this;
}

CHandleLease::~CHandleLease() { Release(); }

void CHandleLease::Release() {
    if (m_pGuard == nullptr) return;
    m_pGuard->ReturnLease(m_hHandle);
    m_pGuard = nullptr;
    m_hHandle = nullptr;
}

// ---- CReceiveLease ----

CReceiveLease::CReceiveLease(CLinkGuard &guard) : m_guard(guard), m_bHeld(guard.TakeReceiveLease()) {}

CReceiveLease::~CReceiveLease() {
    if (m_bHeld) m_guard.ReturnReceiveLease();
}

// ---- CLinkGuard: pipe handles ----

void CLinkGuard::Adopt(HANDLE hHandle) {
    if (hHandle == nullptr || hHandle == INVALID_HANDLE_VALUE) return;
    std::lock_guard<std::mutex> lock(m_tableLock);
    m_leases.emplace(HandleKey(hHandle), Entry{hHandle, 0, false});
}

bool CLinkGuard::IsAdopted(HANDLE hHandle) {
    std::lock_guard<std::mutex> lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    return it != m_leases.end() && !it->second.bRetiring;
}

CHandleLease CLinkGuard::Lease(HANDLE hHandle) {
    {
        std::lock_guard<std::mutex> lock(m_tableLock);
        auto it = m_leases.find(HandleKey(hHandle));
        if (hHandle != nullptr && it != m_leases.end() && !it->second.bRetiring) {
            ++it->second.nLeases;
            return CHandleLease(this, it->second.hHandle);
        }
    }
    // Set once the lock is released: on Windows releasing it may reset the thread's last error.
    SetLastError(ERROR_INVALID_HANDLE);
    return CHandleLease();
}

void CLinkGuard::ReturnLease(HANDLE hHandle) {
    std::lock_guard<std::mutex> lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    if (it == m_leases.end()) return;
    --it->second.nLeases;
    if (it->second.bRetiring) m_leaseReturned.notify_all();
}

BOOL CLinkGuard::Retire(HANDLE hHandle) {
    std::unique_lock<std::mutex> lock(m_tableLock);
    auto it = m_leases.find(HandleKey(hHandle));
    if (hHandle == nullptr || it == m_leases.end() || it->second.bRetiring) {
        lock.unlock();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    it->second.bRetiring = true;
    HANDLE hHeld = it->second.hHandle;
    while (it->second.nLeases > 0) {
        lock.unlock();
        CancelIoEx(hHeld, nullptr);
        lock.lock();
        m_leaseReturned.wait_for(lock, RETIRE_CANCEL_INTERVAL, [&] { return it->second.nLeases == 0; });
    }
    m_leases.erase(it);
    lock.unlock();
    // Closed only now that it has left the table: the value may be reused from this moment on.
    return CloseHandle(hHeld);
}

// ---- CLinkGuard: receive machinery ----

void CLinkGuard::OfferReceive() {
    std::lock_guard<std::mutex> lock(m_tableLock);
    m_bReceiveOffered = true;
}

void CLinkGuard::WithdrawReceive(HANDLE hStopEvent) {
    std::unique_lock<std::mutex> lock(m_tableLock);
    m_bReceiveOffered = false;
    while (m_nReceiveLeases > 0) {
        lock.unlock();
        // A read that took its lease just before the withdrawal may not yet wait; the event stays set for it.
        if (hStopEvent != nullptr) SetEvent(hStopEvent);
        lock.lock();
        m_leaseReturned.wait_for(lock, RETIRE_CANCEL_INTERVAL, [&] { return m_nReceiveLeases == 0; });
    }
}

bool CLinkGuard::TakeReceiveLease() {
    std::lock_guard<std::mutex> lock(m_tableLock);
    if (!m_bReceiveOffered) return false;
    ++m_nReceiveLeases;
    return true;
}

void CLinkGuard::ReturnReceiveLease() {
    std::lock_guard<std::mutex> lock(m_tableLock);
    --m_nReceiveLeases;
    m_leaseReturned.notify_all();
}
