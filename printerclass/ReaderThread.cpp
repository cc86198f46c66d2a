// The reader thread of the printer-class transport: keeps a read pending on the read pipe, stores what arrives in
// the ring buffer, and reopens the device by itself after handle errors.
#include <string.h>

#include <memory>
#include <vector>

#include "discovery/Discovery.h"
#include "port/UsbComm.h"
#include "printerclass/CircularBuffer.h"
#include "printerclass/ReaderThread.h"
#include "trace/Trace.h"

namespace {

const DWORD RECEIVE_BLOCK_SIZE = 64;
const DWORD THREAD_END_PAUSE = 100;
const DWORD STOP_SIGNAL_PAUSE = 50;
const DWORD ACCESS_DENIED_PAUSE = 20;
const DWORD INVALID_HANDLE_PAUSE = 500;
// Errors that are retried without a reconnect still pause this long on the stop event, so that a device that fails
// every read at once neither burns a core nor keeps a close from stopping the thread.
const DWORD RETRY_PAUSE = 20;

// How long a cancelled read may take to end. Windows does not promise that a driver honours a cancel; many end
// pending reads only at the cleanup that the read handle's close brings, which comes after the reader has ended.
const DWORD ABANDON_WAIT = 250;

// One read at a time, owned by the loop. Its receive block, OVERLAPPED record and completion event must outlive the
// read, since the driver writes the block and sets the event when the read ends, whenever that is.
struct PendingRead {
    OVERLAPPED overlapped;
    BYTE block[RECEIVE_BLOCK_SIZE];
    DWORD nRead;
    HANDLE hIssuedOn;
    HANDLE hCompletion;
    bool bPending;

    PendingRead(const PendingRead &) = delete;
    PendingRead &operator=(const PendingRead &) = delete;
    PendingRead() : overlapped(), block(), nRead(0), hIssuedOn(nullptr), hCompletion(nullptr), bPending(false) {}
    ~PendingRead() {
        if (hCompletion != nullptr) CloseHandle(hCompletion);
    }

    // Cancels the read and waits a bounded time for its end; true when nothing is pending any more.
    bool Abandon() {
        if (!bPending) return true;
        CancelIoEx(hIssuedOn, &overlapped);
        if (WaitForSingleObject(hCompletion, ABANDON_WAIT) != WAIT_OBJECT_0) return false;
        DWORD nIgnored = 0;
        GetOverlappedResult(hIssuedOn, &overlapped, &nIgnored, FALSE);
        bPending = false;
        return true;
    }
};

// The completion event: unnamed, manual reset, not signalled. Null when it cannot be created.
std::unique_ptr<PendingRead> NewPendingRead() {
    std::unique_ptr<PendingRead> read(new PendingRead);
    read->hCompletion = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (read->hCompletion == nullptr) return nullptr;
    return read;
}

// Reads that ignored their cancel: kept, block and event alive, until the close of the read handle ends them.
CLock g_orphanLock;
std::vector<std::unique_ptr<PendingRead>> g_orphanedReads GUARDED_BY(g_orphanLock);

// Cancels the read; one that does not end is kept among the orphans, and the loop goes on with a fresh record.
// False when no fresh record can be had.
bool AbandonRead(std::unique_ptr<PendingRead> &read) {
    if (read->Abandon()) return true;
    {
        CLockHolder lock(g_orphanLock);
        g_orphanedReads.push_back(std::move(read));
    }
    read = NewPendingRead();
    return read != nullptr;
}

}  // namespace

DWORD WINAPI ReaderThreadProc(LPVOID pParam) {
    CUsbComm *pComm = static_cast<CUsbComm *>(pParam);
    TraceSetRole(TRACE_ROLE_READER);
    Trace("reader.start h=%d", TraceHandle(pComm->m_hReadPort.load()));
    pComm->m_bReaderBusy = 1;
    int nResult = pComm->ReaderLoop();
    // A reader that has ended holds no connection: a suspend must not take the link for a live one.
    pComm->m_bConnected = false;
    pComm->m_bReaderBusy = 0;
    Sleep(THREAD_END_PAUSE);
    Trace("reader.end");
    HANDLE hDone = pComm->m_hThreadDoneEvent.load();
    if (hDone != nullptr) SetEvent(hDone);
    return static_cast<DWORD>(nResult);
}

namespace {

// Whether the ring buffer was more than half full at the last store: the trace shows the crossings, not every store.
thread_local bool t_bRingAboveHalf = false;

void TraceRingFill(CCircularBuffer *pBuffer) {
    if (!TraceOn() || pBuffer == nullptr) return;
    DWORD nFill = pBuffer->Capacity() - pBuffer->FreeSpace();
    bool bAboveHalf = nFill > pBuffer->Capacity() / 2;
    if (bAboveHalf == t_bRingAboveHalf) return;
    t_bRingAboveHalf = bAboveHalf;
    TraceLine("ring.%s fill=%lu of %lu", bAboveHalf ? "above_half" : "below_half", static_cast<unsigned long>(nFill),
              static_cast<unsigned long>(pBuffer->Capacity()));
}

void StoreReceived(CUsbComm &comm, const BYTE *pBytes, DWORD nCount) {
    CCircularBuffer *pBuffer = comm.m_pCCBuffer.load();
    if (pBuffer != nullptr) pBuffer->PutBytes(pBytes, nCount);
    TraceRingFill(pBuffer);
    SetEvent(comm.m_hDataEvent.load());
}

// Pauses on the stop event; true when it was signalled, after which the loop ends.
bool PauseUntilStopped(CUsbComm &comm, DWORD dwPause) {
    if (WaitForSingleObject(comm.m_hStopEvent.load(), dwPause) != WAIT_OBJECT_0) return false;
    comm.m_bRunning = 0;
    SetEvent(comm.m_hThreadDoneEvent.load());
    return true;
}

// A stop is looked for on every pass, not only in the waits: a printer that keeps every read satisfied (a status
// stream) completes reads at once or before the wait begins, and a wait for any of several objects reports the
// completion first, so its reader would otherwise outlive every close.
bool StopRequested(CUsbComm &comm) { return PauseUntilStopped(comm, 0); }

// Devices that are gone answer later reads with ERROR_ACCESS_DENIED, or, from some drivers, with the code of the
// unplug itself; both mean the handles are dead and the device must be opened anew.
bool MeansDeviceGone(DWORD dwError) { return dwError == ERROR_ACCESS_DENIED || dwError == ERROR_DEVICE_NOT_CONNECTED; }

void ReconnectAfter(CUsbComm &comm, DWORD dwError) {
    if (MeansDeviceGone(dwError)) comm.m_bConnected = false;
    comm.m_bConnected = comm.Reconnect() != 0;
    DWORD dwPause = MeansDeviceGone(dwError) ? ACCESS_DENIED_PAUSE : INVALID_HANDLE_PAUSE;
    Trace("reader.reconnect outcome=%s read_h=%d write_h=%d pause=%lu", comm.m_bConnected ? "connected" : "failed",
          TraceHandle(comm.m_hReadPort.load()), TraceHandle(comm.m_hWritePort.load()),
          static_cast<unsigned long>(dwPause));
    PauseUntilStopped(comm, dwPause);
}

// Flow control: the next read is issued only when the ring buffer has room for a whole block. Until then the
// printer keeps what it has (USB holds it back), so a Java reader that falls behind loses nothing. False when the
// stop came first.
bool AwaitRoomForBlock(CUsbComm &comm) {
    CCircularBuffer *pBuffer = comm.m_pCCBuffer.load();
    if (pBuffer == nullptr) return true;
    bool bHeld = false;
    while (pBuffer->FreeSpace() < RECEIVE_BLOCK_SIZE) {
        if (!bHeld) Trace("ring.hold reads paused until Java takes bytes");
        bHeld = true;
        HANDLE waitList[2] = {pBuffer->RoomEvent(), comm.m_hStopEvent.load()};
        DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
        if (dwWait == WAIT_OBJECT_0 + 1) {
            StopRequested(comm);
            return false;
        }
        // A failed wait must not turn into a busy loop.
        if (dwWait != WAIT_OBJECT_0 && PauseUntilStopped(comm, RETRY_PAUSE)) return false;
        if (comm.m_bRunning == 0) return false;
    }
    if (bHeld) Trace("ring.release");
    return true;
}

// A read is pending: waits for it or for the stop event.
void AwaitPendingRead(CUsbComm &comm, std::unique_ptr<PendingRead> &pRead) {
    PendingRead &read = *pRead;
    HANDLE hCompletion = read.hCompletion;
    comm.m_bConnected = true;
    HANDLE waitList[2] = {hCompletion, comm.m_hStopEvent.load()};
    DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0 + 1) comm.m_bRunning = 0;
    if (comm.m_bRunning == 0) {
        // Stopped: the bytes of a read that completed meanwhile are not stored.
        AbandonRead(pRead);
        HANDLE hDone = comm.m_hThreadDoneEvent.load();
        if (hDone != nullptr) {
            Sleep(STOP_SIGNAL_PAUSE);
            SetEvent(hDone);
        }
        return;
    }
    if (!GetOverlappedResult(read.hIssuedOn, &read.overlapped, &read.nRead, FALSE)) {
        TraceFailure(GetLastError(), "reader.read_error h=%d pending", TraceHandle(read.hIssuedOn));
        // Never issue the next read into a block that a read still pending may write.
        if (!AbandonRead(pRead)) comm.m_bRunning = 0;
        return;
    }
    read.bPending = false;
    if (!ResetEvent(hCompletion)) {
        comm.m_bRunning = 0;
        return;
    }
    if (read.nRead > 0) StoreReceived(comm, read.block, read.nRead);
}

}  // namespace

int CUsbComm::ReaderLoop() {
    std::unique_ptr<PendingRead> pRead = NewPendingRead();
    if (pRead == nullptr) return 0;

    m_bConnected = true;
    m_bRunning = 1;
    while (m_bRunning != 0) {
        if (StopRequested(*this) || !AwaitRoomForBlock(*this)) break;
        PendingRead &read = *pRead;
        memset(&read.overlapped, 0, sizeof(read.overlapped));
        read.overlapped.hEvent = read.hCompletion;
        read.nRead = 0;
        read.hIssuedOn = m_hReadPort.load();
        if (ReadFile(read.hIssuedOn, read.block, RECEIVE_BLOCK_SIZE, &read.nRead, &read.overlapped)) {
            StoreReceived(*this, read.block, read.nRead);
            // A device that completes empty reads at once must not turn the loop into a busy one.
            if (read.nRead == 0) PauseUntilStopped(*this, RETRY_PAUSE);
            continue;
        }
        DWORD dwError = GetLastError();
        if (dwError != ERROR_IO_PENDING) TraceFailure(dwError, "reader.read_error h=%d", TraceHandle(read.hIssuedOn));
        switch (dwError) {
        case ERROR_IO_PENDING:
            read.bPending = true;
            AwaitPendingRead(*this, pRead);
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
            ReconnectAfter(*this, dwError);
            break;
        default:
            Trace("reader.pause ms=%lu", static_cast<unsigned long>(RETRY_PAUSE));
            PauseUntilStopped(*this, RETRY_PAUSE);
            break;
        }
    }
    AbandonRead(pRead);
    return 0;
}

void ReapOrphanedReads() {
    CLockHolder lock(g_orphanLock);
    for (auto it = g_orphanedReads.begin(); it != g_orphanedReads.end();) {
        if (WaitForSingleObject((*it)->hCompletion, ABANDON_WAIT) == WAIT_OBJECT_0) {
            it = g_orphanedReads.erase(it);
        } else {
            ++it;
        }
    }
}

int CUsbComm::Reconnect() {
    CLockHolder lock(m_guard.m_replaceLock);
    m_bOpened = 0;
    ReleaseHandleField(m_hWritePort);
    ReleaseHandleField(m_hReadPort);
    if (m_nUsbType < 0) return 0;

    // The reader serves the printer-class link, so it reopens that link even if a detection on another thread has
    // meanwhile recorded another transport.
    FindDevicePath(USB_TYPE_PRINTER_CLASS, m_szDevicePath, DEVICE_PATH_SIZE);
    m_hReadPort = AdoptHandle(OpenOverlappedDeviceFile(m_szDevicePath));
    HANDLE hWrite = OpenDeviceFile(m_szDevicePath);
    // A failed open leaves the write field empty, so that a later open of the write pipe really tries again.
    if (hWrite == INVALID_HANDLE_VALUE) return 0;
    m_hWritePort = AdoptHandle(hWrite);
    PurgeComm(hWrite, PURGE_TXCLEAR);
    PurgeComm(hWrite, PURGE_RXCLEAR);
    m_bOpened = 1;
    return 1;
}
