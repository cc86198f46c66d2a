// The printer-class transport's read-side open and its close, which tears the whole link down.
#include <new>

#include "discovery/DeviceFile.h"
#include "jni/JavaBoundary.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "printerclass/CircularBuffer.h"

namespace {

const DWORD READER_SIGNAL_TIMEOUT = 2500;
const DWORD READER_SETTLE_PAUSE = 200;
// Size exponent of the receive ring buffer: 4096 bytes.
const DWORD RING_BUFFER_EXPONENT = 12;

void CloseHandleField(std::atomic<HANDLE> &field) {
    HANDLE hHandle = field.exchange(nullptr);
    if (hHandle != nullptr) CloseHandle(hHandle);
}

}  // namespace

HANDLE CUsbComm::OpenPrinterClassReadPipe(const char *pszPipePath, bool *pbStartPowerHandler) {
    std::lock_guard<std::recursive_mutex> lock(m_guard.ReplaceLock());
    HANDLE hHeld = m_hReadPort.load();
    // The receive machinery can be up with the field empty: a reconnect that found no transport recorded released
    // both handles and opened none. Its reader goes on reconnecting and fills the field; a second machinery would
    // leak the first and run two readers on the device. Java gets the field as it is, -1 until then.
    if (hHeld != nullptr || m_hStopEvent.load() != nullptr) return hHeld;

    // A failed open does not stop the sequence: the reader thread's reconnect goes on trying the device.
    m_hReadPort = AdoptHandle(OpenOverlappedDeviceFile(pszPipePath));
    if (!CreateReceiveMachinery()) return nullptr;
    *pbStartPowerHandler = true;
    return m_hReadPort.load();
}

bool CUsbComm::CreateReceiveMachinery() {
    m_bRunning = 0;
    m_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hStopEvent.load() == nullptr) return false;
    m_hThreadDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (m_hThreadDoneEvent.load() == nullptr) return false;
    m_hDataEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hDataEvent.load() == nullptr) {
        m_bOpened = 0;
        return false;
    }

    // Running out of memory for the buffer object takes the same exit as the buffer's own failures.
    CCircularBuffer *pBuffer = nullptr;
    try {
        pBuffer = new (std::nothrow) CCircularBuffer(RING_BUFFER_EXPONENT);
    } catch (long) {
        pBuffer = nullptr;
    }
    if (pBuffer == nullptr) {
        m_bOpened = 0;
        return false;
    }
    m_pCCBuffer = pBuffer;

    DWORD dwThreadId = 0;
    HANDLE hThread = CreateThread(nullptr, 0, ReaderThreadProc, this, CREATE_SUSPENDED, &dwThreadId);
    if (hThread == nullptr) {
        m_bOpened = 0;
        return false;
    }
    m_hReaderThread = hThread;
    m_guard.OfferReceive();
    ResumeThread(hThread);
    return true;
}

int CUsbComm::ClosePrinterClassPipe(jint nHandle) {
    int nResult;
    {
        std::lock_guard<std::mutex> lifecycle(m_guard.LifecycleLock());
        HANDLE hRead = m_hReadPort.load();
        HANDLE hWrite = m_hWritePort.load();
        bool bMatching = (hRead != nullptr && SameJavaHandle(hRead, nHandle)) ||
                         (hWrite != nullptr && SameJavaHandle(hWrite, nHandle));
        nResult = bMatching ? CloseMatchingHandle() : CloseOtherHandle();
    }
    // While suspended the power handler stays up: the resume broadcast must still reach it.
    StopPowerHandlerUnlessSuspended(this);
    return nResult;
}

int CUsbComm::CloseMatchingHandle() {
    HANDLE hStop = m_hStopEvent.load();
    if (hStop != nullptr) {
        SetEvent(hStop);
        if (WaitForSingleObject(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT) == WAIT_FAILED) return 1;
    }
    if (m_hReaderThread.load() != nullptr) {
        if (hStop != nullptr) SetEvent(hStop);
        if (m_bReaderBusy == 1) {
            // The reader signals once as its loop ends and once more as the thread ends.
            if (WaitForSingleObject(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT) != WAIT_OBJECT_0 &&
                m_bReaderBusy != 1) {
                if (hStop != nullptr) SetEvent(hStop);
                WaitForSingleObject(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT);
            }
        } else {
            Sleep(READER_SETTLE_PAUSE);
        }
    }
    Teardown();
    return 0;
}

int CUsbComm::CloseOtherHandle() {
    if (!SignalStopAndWait()) return 1;
    Teardown();
    return 0;
}

bool CUsbComm::SignalStopAndWait() {
    HANDLE hStop = m_hStopEvent.load();
    if (hStop == nullptr) return true;
    SetEvent(hStop);
    DWORD dwWait = WaitForSingleObject(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT);
    return !(dwWait == WAIT_FAILED && m_bReaderBusy == 1);
}

void CUsbComm::WaitReaderEnded() {
    HANDLE hThread = m_hReaderThread.load();
    if (hThread == nullptr) return;
    // The bounded waits above may have ended before the reader did; nothing it uses may go before it has ended.
    for (;;) {
        HANDLE hStop = m_hStopEvent.load();
        if (hStop != nullptr) SetEvent(hStop);
        DWORD dwWait = WaitForSingleObject(hThread, READER_SIGNAL_TIMEOUT);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED) return;
    }
}

void CUsbComm::Teardown() {
    m_guard.WithdrawReceive(m_hStopEvent.load());
    WaitReaderEnded();

    std::lock_guard<std::recursive_mutex> lock(m_guard.ReplaceLock());
    CloseHandleField(m_hReaderThread);
    CCircularBuffer *pBuffer = m_pCCBuffer.exchange(nullptr);
    delete pBuffer;
    CloseHandleField(m_hThreadDoneEvent);
    CloseHandleField(m_hStopEvent);
    CloseHandleField(m_hDataEvent);
    ReleaseHandleField(m_hReadPort);
    ReleaseHandleField(m_hWritePort);
}

void CUsbComm::StopReaderForUnload() {
    std::lock_guard<std::mutex> lifecycle(m_guard.LifecycleLock());
    m_guard.WithdrawReceive(m_hStopEvent.load());
    WaitReaderEnded();
}
