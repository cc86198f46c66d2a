// The reader thread of the printer-class transport: keeps a read pending on the read pipe, stores what arrives in
// the ring buffer, and reopens the device by itself after handle errors.
#include <string.h>

#include <memory>
#include <vector>

#include "discovery/Discovery.h"
#include "port/KernelObject.h"
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
// pending reads only at the cleanup that the read handle's close brings.
const DWORD ABANDON_WAIT = 250;
// How long the reader's end waits for its abandoned reads once the read handle is closed. A driver that ends them not
// even at the cleanup keeps their memory for ever: it is never freed under a read that may still write it.
const DWORD ABANDONED_END_WAIT = 2500;

}  // namespace

// One read at a time, owned by the loop. Its receive block, OVERLAPPED record and completion event must outlive the
// read, since the driver writes the block and sets the event when the read ends, whenever that is.
struct CPendingRead {
    OVERLAPPED overlapped;
    BYTE block[RECEIVE_BLOCK_SIZE];
    DWORD nRead;
    HANDLE hIssuedOn;
    CKernelHandle completion;
    bool bPending;

    CPendingRead(const CPendingRead &) = delete;
    CPendingRead &operator=(const CPendingRead &) = delete;
    CPendingRead() : overlapped(), block(), nRead(0), hIssuedOn(nullptr), bPending(false) {}

    // Waits a bounded time for the read's end; true when nothing is pending any more. The completion event tells
    // it: the handle the read was issued on may be closed by now, and its value given to something else.
    bool AwaitEnd(DWORD dwTimeout) {
        if (!bPending) return true;
        if (WaitForSingleObject(completion.Get(), dwTimeout) != WAIT_OBJECT_0) return false;
        bPending = false;
        return true;
    }

    // Cancels the read and waits a bounded time for its end; true when nothing is pending any more.
    bool Abandon() {
        if (!bPending) return true;
        CancelIoEx(hIssuedOn, &overlapped);
        return AwaitEnd(ABANDON_WAIT);
    }
};

// The reader thread's reads, all on its own stack: the current one, null only when no record could be had, and the
// reads whose cancel a driver ignored. Those are the thread's own requests; Windows does not let a thread end before
// its pending requests have, and nothing here frees what a pending read may still write.
struct CReaderReads {
    std::unique_ptr<CPendingRead> pCurrent;
    std::vector<std::unique_ptr<CPendingRead>> abandoned;
};

namespace {

// The completion event: unnamed, manual reset, not signalled. Null when it cannot be created.
std::unique_ptr<CPendingRead> NewPendingRead() {
    std::unique_ptr<CPendingRead> read(new CPendingRead);
    read->completion.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!read->completion) return nullptr;
    return read;
}

// Cancels the current read; one that does not end is kept among the abandoned, and the loop goes on with a fresh
// record. False when no fresh record can be had: there is then no current read.
bool AbandonRead(CReaderReads &reads) {
    if (reads.pCurrent == nullptr || reads.pCurrent->Abandon()) return true;
    reads.abandoned.push_back(std::move(reads.pCurrent));
    reads.pCurrent = NewPendingRead();
    return reads.pCurrent != nullptr;
}

// Frees the abandoned reads that have ended since.
void ReapAbandonedReads(CReaderReads &reads) {
    auto &abandoned = reads.abandoned;
    for (auto it = abandoned.begin(); it != abandoned.end();) {
        it = (*it)->AwaitEnd(0) ? abandoned.erase(it) : it + 1;
    }
}

}  // namespace

DWORD WINAPI ReaderThreadProc(LPVOID pParam) { return static_cast<CUsbComm *>(pParam)->RunReaderThread(); }

DWORD CUsbComm::RunReaderThread() {
    TraceSetRole(TRACE_ROLE_READER);
    Trace("reader.start h=%d", TraceHandle(m_hReadPort.load()));
    m_bReaderBusy = 1;
    CReaderReads reads;
    ReaderLoop(reads);
    // A reader that has ended holds no connection: a suspend must not take the link for a live one.
    m_bConnected = false;
    m_bReaderBusy = 0;
    Sleep(THREAD_END_PAUSE);
    EndAbandonedReads(reads);
    Trace("reader.end");
    HANDLE hDone = m_hThreadDoneEvent.load();
    if (hDone != nullptr) SetEvent(hDone);
    return 0;
}

void CUsbComm::EndAbandonedReads(CReaderReads &reads) {
    ReapAbandonedReads(reads);
    if (reads.abandoned.empty()) return;
    // The loop has ended, so nothing reads the read handle any more: its close is safe now, and its cleanup is what
    // ends reads a driver would not cancel. Whoever tears the link down finds the field empty.
    Trace("reader.abandoned_reads count=%lu", static_cast<unsigned long>(reads.abandoned.size()));
    ReleaseHandleField(m_hReadPort);
    for (auto &pRead : reads.abandoned) {
        // Never freed while the driver may still write it: a read that does not end is let go of, not deleted.
        if (!pRead->AwaitEnd(ABANDONED_END_WAIT)) static_cast<void>(pRead.release());
    }
    reads.abandoned.clear();
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

// Devices that are gone answer later reads with ERROR_ACCESS_DENIED, or, from some drivers, with the code of the
// unplug itself; both mean the handles are dead and the device must be opened anew.
bool MeansDeviceGone(DWORD dwError) { return dwError == ERROR_ACCESS_DENIED || dwError == ERROR_DEVICE_NOT_CONNECTED; }

}  // namespace

void CUsbComm::StoreReceived(const BYTE *pBytes, DWORD nCount) {
    CCircularBuffer *pBuffer = m_pCCBuffer.load();
    if (pBuffer != nullptr) pBuffer->PutBytes(pBytes, nCount);
    TraceRingFill(pBuffer);
    SetEvent(m_hDataEvent.load());
}

bool CUsbComm::PauseUntilStopped(DWORD dwPause) {
    if (WaitForSingleObject(m_hStopEvent.load(), dwPause) != WAIT_OBJECT_0) return false;
    m_bRunning = 0;
    SetEvent(m_hThreadDoneEvent.load());
    return true;
}

// A stop is looked for on every pass, not only in the waits: a printer that keeps every read satisfied (a status
// stream) completes reads at once or before the wait begins, and a wait for any of several objects reports the
// completion first, so its reader would otherwise outlive every close.
bool CUsbComm::StopRequested() { return PauseUntilStopped(0); }

void CUsbComm::ReconnectAfter(DWORD dwError) {
    if (MeansDeviceGone(dwError)) m_bConnected = false;
    m_bConnected = Reconnect();
    DWORD dwPause = MeansDeviceGone(dwError) ? ACCESS_DENIED_PAUSE : INVALID_HANDLE_PAUSE;
    Trace("reader.reconnect outcome=%s read_h=%d write_h=%d pause=%lu", m_bConnected ? "connected" : "failed",
          TraceHandle(m_hReadPort.load()), TraceHandle(m_hWritePort.load()), static_cast<unsigned long>(dwPause));
    PauseUntilStopped(dwPause);
}

// Flow control: the next read is issued only when the ring buffer has room for a whole block. Until then the
// printer keeps what it has (USB holds it back), so a Java reader that falls behind loses nothing. False when the
// stop came first.
bool CUsbComm::AwaitRoomForBlock() {
    CCircularBuffer *pBuffer = m_pCCBuffer.load();
    if (pBuffer == nullptr) return true;
    bool bHeld = false;
    while (pBuffer->FreeSpace() < RECEIVE_BLOCK_SIZE) {
        if (!bHeld) Trace("ring.hold reads paused until Java takes bytes");
        bHeld = true;
        HANDLE waitList[2] = {pBuffer->RoomEvent(), m_hStopEvent.load()};
        DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
        if (dwWait == WAIT_OBJECT_0 + 1) {
            StopRequested();
            return false;
        }
        // A failed wait must not turn into a busy loop.
        if (dwWait != WAIT_OBJECT_0 && PauseUntilStopped(RETRY_PAUSE)) return false;
        if (m_bRunning == 0) return false;
    }
    if (bHeld) Trace("ring.release");
    return true;
}

// A read is pending: waits for it or for the stop event.
void CUsbComm::AwaitPendingRead(CReaderReads &reads) {
    CPendingRead &read = *reads.pCurrent;
    HANDLE hCompletion = read.completion.Get();
    m_bConnected = true;
    HANDLE waitList[2] = {hCompletion, m_hStopEvent.load()};
    DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0 + 1) m_bRunning = 0;
    if (m_bRunning == 0) {
        // Stopped: the bytes of a read that completed meanwhile are not stored.
        AbandonRead(reads);
        HANDLE hDone = m_hThreadDoneEvent.load();
        if (hDone != nullptr) {
            Sleep(STOP_SIGNAL_PAUSE);
            SetEvent(hDone);
        }
        return;
    }
    if (!GetOverlappedResult(read.hIssuedOn, &read.overlapped, &read.nRead, FALSE)) {
        TraceFailure(GetLastError(), "reader.read_error h=%d pending", TraceHandle(read.hIssuedOn));
        // Never issue the next read into a block that a read still pending may write.
        if (!AbandonRead(reads)) m_bRunning = 0;
        return;
    }
    read.bPending = false;
    if (!ResetEvent(hCompletion)) {
        m_bRunning = 0;
        return;
    }
    if (read.nRead > 0) StoreReceived(read.block, read.nRead);
}

void CUsbComm::ReaderLoop(CReaderReads &reads) {
    reads.pCurrent = NewPendingRead();
    if (reads.pCurrent == nullptr) return;

    m_bConnected = true;
    m_bRunning = 1;
    while (m_bRunning != 0 && reads.pCurrent != nullptr) {
        if (StopRequested() || !AwaitRoomForBlock()) break;
        ReapAbandonedReads(reads);
        CPendingRead &read = *reads.pCurrent;
        memset(&read.overlapped, 0, sizeof(read.overlapped));
        read.overlapped.hEvent = read.completion.Get();
        read.nRead = 0;
        read.hIssuedOn = m_hReadPort.load();
        if (ReadFile(read.hIssuedOn, read.block, RECEIVE_BLOCK_SIZE, &read.nRead, &read.overlapped)) {
            StoreReceived(read.block, read.nRead);
            // A device that completes empty reads at once must not turn the loop into a busy one.
            if (read.nRead == 0) PauseUntilStopped(RETRY_PAUSE);
            continue;
        }
        DWORD dwError = GetLastError();
        if (dwError != ERROR_IO_PENDING) TraceFailure(dwError, "reader.read_error h=%d", TraceHandle(read.hIssuedOn));
        switch (dwError) {
        case ERROR_IO_PENDING:
            read.bPending = true;
            AwaitPendingRead(reads);
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
            ReconnectAfter(dwError);
            break;
        default:
            Trace("reader.pause ms=%lu", static_cast<unsigned long>(RETRY_PAUSE));
            PauseUntilStopped(RETRY_PAUSE);
            break;
        }
    }
    AbandonRead(reads);
}

bool CUsbComm::Reconnect() {
    // The old handles go out of service under the lock and are closed after it: the close of a handle that a Java
    // write still holds waits a while for it, and nobody may wait for the replacement lock that long.
    HANDLE hOldWrite = nullptr;
    HANDLE hOldRead = nullptr;
    {
        CLockHolder lock(m_guard.m_replaceLock);
        m_bOpened = 0;
        hOldWrite = TakeHandleField(m_hWritePort);
        hOldRead = TakeHandleField(m_hReadPort);
    }
    CloseTakenHandle(hOldWrite);
    CloseTakenHandle(hOldRead);

    CLockHolder lock(m_guard.m_replaceLock);
    if (m_nUsbType < 0) {
        // The last detection found no transport; nothing was tried here.
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }

    // The reader serves the printer-class link, so it reopens that link even if a detection on another thread has
    // meanwhile recorded another transport.
    FindDevicePath(USB_TYPE_PRINTER_CLASS, m_szDevicePath, DEVICE_PATH_SIZE);
    // Between the closes above and this lock a Java open of the write pipe may have filled the field: that handle
    // is the link's now, and a second one would be lost when the field is overwritten.
    if (m_hReadPort.load() == nullptr) m_hReadPort = AdoptHandle(OpenOverlappedDeviceFile(m_szDevicePath));
    HANDLE hWrite = m_hWritePort.load();
    if (hWrite == nullptr) {
        hWrite = OpenDeviceFile(m_szDevicePath);
        // A failed open leaves the write field empty, so that a later open of the write pipe really tries again.
        if (hWrite == INVALID_HANDLE_VALUE) return false;
        m_hWritePort = AdoptHandle(hWrite);
    }
    PurgeComm(hWrite, PURGE_TXCLEAR);
    PurgeComm(hWrite, PURGE_RXCLEAR);
    m_bOpened = 1;
    return true;
}
