// The reader thread of the printer-class transport: keeps a read pending on the read pipe, stores what arrives in
// the ring buffer, and reopens the device by itself after handle errors.
#include <string.h>

#include "discovery/DeviceFile.h"
#include "port/UsbComm.h"
#include "printerclass/CircularBuffer.h"

namespace {

const DWORD RECEIVE_BLOCK_SIZE = 64;
const DWORD THREAD_END_PAUSE = 100;
const DWORD STOP_SIGNAL_PAUSE = 50;
const DWORD ACCESS_DENIED_PAUSE = 20;
const DWORD INVALID_HANDLE_PAUSE = 500;
// Errors that are retried without a reconnect still pause this long on the stop event, so that a device that fails
// every read at once neither burns a core nor keeps a close from stopping the thread.
const DWORD RETRY_PAUSE = 20;

// One read at a time, owned by the loop. Its receive block and OVERLAPPED record must outlive the read: a read that
// is still pending when the loop ends is cancelled and waited for before they go.
struct PendingRead {
    OVERLAPPED overlapped;
    BYTE block[RECEIVE_BLOCK_SIZE];
    DWORD nRead;
    HANDLE hIssuedOn;
    bool bPending;

    void Abandon() {
        if (!bPending) return;
        CancelIoEx(hIssuedOn, &overlapped);
        DWORD nIgnored = 0;
        GetOverlappedResult(hIssuedOn, &overlapped, &nIgnored, TRUE);
        bPending = false;
    }
};

}  // namespace

DWORD WINAPI ReaderThreadProc(LPVOID pParam) {
    CUsbComm *pComm = static_cast<CUsbComm *>(pParam);
    pComm->m_bReaderBusy = 1;
    int nResult = pComm->ReaderLoop();
    // A reader that has ended holds no connection: a suspend must not take the link for a live one.
    pComm->m_bConnected = false;
    pComm->m_bReaderBusy = 0;
    Sleep(THREAD_END_PAUSE);
    HANDLE hDone = pComm->m_hThreadDoneEvent.load();
    if (hDone != nullptr) SetEvent(hDone);
    return static_cast<DWORD>(nResult);
}

namespace {

void StoreReceived(CUsbComm &comm, const BYTE *pBytes, DWORD nCount) {
    CCircularBuffer *pBuffer = comm.m_pCCBuffer.load();
    if (pBuffer != nullptr) pBuffer->PutBytes(pBytes, nCount);
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
    PauseUntilStopped(comm, MeansDeviceGone(dwError) ? ACCESS_DENIED_PAUSE : INVALID_HANDLE_PAUSE);
}

// Flow control: the next read is issued only when the ring buffer has room for a whole block. Until then the
// printer keeps what it has (USB holds it back), so a Java reader that falls behind loses nothing. False when the
// stop came first.
bool AwaitRoomForBlock(CUsbComm &comm) {
    CCircularBuffer *pBuffer = comm.m_pCCBuffer.load();
    if (pBuffer == nullptr) return true;
    while (pBuffer->FreeSpace() < RECEIVE_BLOCK_SIZE) {
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
    return true;
}

// A read is pending: waits for it or for the stop event.
void AwaitPendingRead(CUsbComm &comm, PendingRead &read, HANDLE hCompletion) {
    comm.m_bConnected = true;
    HANDLE waitList[2] = {hCompletion, comm.m_hStopEvent.load()};
    DWORD dwWait = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0 + 1) comm.m_bRunning = 0;
    if (comm.m_bRunning == 0) {
        // Stopped: the bytes of a read that completed meanwhile are not stored.
        read.Abandon();
        HANDLE hDone = comm.m_hThreadDoneEvent.load();
        if (hDone != nullptr) {
            Sleep(STOP_SIGNAL_PAUSE);
            SetEvent(hDone);
        }
        return;
    }
    if (!GetOverlappedResult(read.hIssuedOn, &read.overlapped, &read.nRead, FALSE)) {
        // Never issue the next read into a block that a read still pending may write.
        read.Abandon();
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
    HANDLE hCompletion = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (hCompletion == nullptr) return 0;

    m_bConnected = true;
    m_bRunning = 1;
    PendingRead read;
    memset(&read, 0, sizeof(read));
    while (m_bRunning != 0) {
        if (StopRequested(*this) || !AwaitRoomForBlock(*this)) break;
        memset(&read.overlapped, 0, sizeof(read.overlapped));
        read.overlapped.hEvent = hCompletion;
        read.nRead = 0;
        read.hIssuedOn = m_hReadPort.load();
        if (ReadFile(read.hIssuedOn, read.block, RECEIVE_BLOCK_SIZE, &read.nRead, &read.overlapped)) {
            StoreReceived(*this, read.block, read.nRead);
            continue;
        }
        DWORD dwError = GetLastError();
        switch (dwError) {
        case ERROR_IO_PENDING:
            read.bPending = true;
            AwaitPendingRead(*this, read, hCompletion);
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
            ReconnectAfter(*this, dwError);
            break;
        default:
            PauseUntilStopped(*this, RETRY_PAUSE);
            break;
        }
    }
    read.Abandon();
    CloseHandle(hCompletion);
    return 0;
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
