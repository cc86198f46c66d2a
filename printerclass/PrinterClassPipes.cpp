// The printer-class transport's read-side open and its close, which tears the whole link down.
#include <new>

#include "discovery/Discovery.h"
#include "port/JavaHandle.h"
#include "port/KernelObject.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "printerclass/CircularBuffer.h"
#include "printerclass/ReaderThread.h"
#include "trace/TraceWait.h"

namespace {

const DWORD READER_SIGNAL_TIMEOUT = 2500;
const DWORD READER_SETTLE_PAUSE = 200;
// Size exponent of the receive ring buffer: 4096 bytes.
const DWORD RING_BUFFER_EXPONENT = 12;

// A wait for the reader's done signal. Without a done event (its creation failed) the wait fails as Windows fails a
// wait on a null handle, without the wait being made.
DWORD WaitForDoneSignal(HANDLE hDone, DWORD dwTimeout) {
    if (hDone == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return CTraceWait("close.wait_done_signal", dwTimeout).End(WaitForSingleObject(hDone, dwTimeout));
}

}  // namespace

HANDLE CUsbComm::OpenPrinterClassReadPipe(const char *pszPipePath) {
    CLockHolder lock(m_guard.m_replaceLock);
    HANDLE hHeld = m_hReadPort.load();
    // The receive machinery can be up with the field empty: a reconnect that found no transport recorded released
    // both handles and opened none. Its reader goes on reconnecting and fills the field; a second machinery would
    // leak the first and run two readers on the device. Java gets the field as it is, -1 until then.
    if (hHeld != nullptr || m_hStopEvent.load() != nullptr) return hHeld;

    // A failed open does not stop the sequence: the reader thread's reconnect goes on trying the device.
    HANDLE hRead = OpenOverlappedDeviceFile(pszPipePath);
    DWORD dwOpenError = GetLastError();
    m_hReadPort = AdoptHandle(hRead);
    if (!CreateReceiveMachinery()) return nullptr;
    // Java learns why its open failed, not how the steps after it went.
    if (!IsOpenHandle(hRead)) SetLastError(dwOpenError);
    return hRead;
}

bool CUsbComm::IsPrinterClassHandle(jint nHandle) {
    bool bPrinterClassLink = m_nUsbType == USB_TYPE_PRINTER_CLASS || HasReceiveMachinery();
    if (!bPrinterClassLink) return false;
    HANDLE hRead = m_hReadPort.load();
    HANDLE hWrite = m_hWritePort.load();
    if ((hRead != nullptr && SameJavaHandle(hRead, nHandle)) ||
        (hWrite != nullptr && SameJavaHandle(hWrite, nHandle))) {
        return true;
    }
    // A native handle the library opened and still holds goes by what it is, whatever the last detection recorded;
    // any other value is one of the link's from before a reconnect replaced them, or a stale one.
    return !m_guard.IsAdopted(HandleFromJava(nHandle));
}

CHandleLease CUsbComm::LeaseWriteHandle() {
    // Read and leased under the replacement lock: between a bare read of the field and the lease, a close and a
    // read-side open could give the value to the overlapped read handle, and the write would go there.
    CLockHolder lock(m_guard.m_replaceLock);
    return m_guard.Lease(m_hWritePort.load());
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
    Trace("link.machinery reader_tid=%lu", static_cast<unsigned long>(dwThreadId));
    if (hThread == nullptr) {
        m_bOpened = 0;
        return false;
    }
    m_hReaderThread = hThread;
    m_guard.OfferReceive();
    // The link is connected from the moment the open hands it out, not from the reader's first pass: a suspend
    // that comes before the new thread has run must still tell the printer and close the link. The reader clears
    // the flag when it finds the device gone.
    m_bConnected = IsOpenHandle(m_hReadPort.load());
    ResumeThread(hThread);
    return true;
}

int CUsbComm::ClosePrinterClassPipe(jint nHandle) {
    Trace("close.link h=%d", nHandle);
    int nResult;
    {
        CLockHolder lifecycle(m_guard.m_lifecycleLock);
        HANDLE hRead = m_hReadPort.load();
        HANDLE hWrite = m_hWritePort.load();
        bool bMatching = (hRead != nullptr && SameJavaHandle(hRead, nHandle)) ||
                         (hWrite != nullptr && SameJavaHandle(hWrite, nHandle));
        bool bRan = bMatching ? CloseMatchingHandle() : CloseOtherHandle();
        nResult = bRan ? 0 : 1;
    }
    ForgetLinkForResume();
    // While suspended the power handler stays up: the resume broadcast must still reach it.
    SyncPowerHandler(this);
    return nResult;
}

// Java closes a handle it holds, so the reader is still running: it waits for both of the reader's signals (end of
// loop, end of thread), and a failed first wait means the done event is missing, so nothing can be released safely.
bool CUsbComm::CloseMatchingHandle() {
    HANDLE hStop = m_hStopEvent.load();
    if (hStop != nullptr) {
        SetEvent(hStop);
        if (WaitForDoneSignal(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT) == WAIT_FAILED) return false;
    }
    if (m_hReaderThread.load() != nullptr) {
        if (hStop != nullptr) SetEvent(hStop);
        if (m_bReaderBusy == 1) {
            // The reader signals once as its loop ends and once more as the thread ends.
            if (WaitForDoneSignal(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT) != WAIT_OBJECT_0 &&
                m_bReaderBusy != 1) {
                if (hStop != nullptr) SetEvent(hStop);
                WaitForDoneSignal(m_hThreadDoneEvent.load(), READER_SIGNAL_TIMEOUT);
            }
        } else {
            Sleep(READER_SETTLE_PAUSE);
        }
    }
    Teardown();
    return true;
}

// The handles were replaced since Java got them, or a first close already released them: one wait is enough, and
// only a reader still busy makes a failed wait a reason to release nothing.
bool CUsbComm::CloseOtherHandle() {
    if (!SignalStopAndWait(READER_SIGNAL_TIMEOUT)) return false;
    Teardown();
    return true;
}

// Shared with the suspend close, which runs on the power thread under the suspend budget and so takes its own bound.
bool CUsbComm::SignalStopAndWait(DWORD dwTimeout) {
    HANDLE hStop = m_hStopEvent.load();
    if (hStop == nullptr) return true;
    SetEvent(hStop);
    DWORD dwWait = WaitForDoneSignal(m_hThreadDoneEvent.load(), dwTimeout);
    return !(dwWait == WAIT_FAILED && m_bReaderBusy == 1);
}

void CUsbComm::WaitReaderEnded() {
    HANDLE hThread = m_hReaderThread.load();
    if (hThread == nullptr) return;
    // The bounded waits above may have ended before the reader did; nothing it uses may go before it has ended.
    for (;;) {
        HANDLE hStop = m_hStopEvent.load();
        if (hStop != nullptr) SetEvent(hStop);
        DWORD dwWait = CTraceWait("close.wait_reader_end", READER_SIGNAL_TIMEOUT)
                           .End(WaitForSingleObject(hThread, READER_SIGNAL_TIMEOUT));
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED) return;
    }
}

void CUsbComm::Teardown() {
    m_guard.WithdrawReceive(m_hStopEvent.load());
    WaitReaderEnded();

    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    {
        CLockHolder lock(m_guard.m_replaceLock);
        ReleaseAndEmpty<KernelHandleKind>(m_hReaderThread);
        CCircularBuffer *pBuffer = m_pCCBuffer.exchange(nullptr);
        delete pBuffer;
        ReleaseAndEmpty<KernelHandleKind>(m_hThreadDoneEvent);
        ReleaseAndEmpty<KernelHandleKind>(m_hStopEvent);
        ReleaseAndEmpty<KernelHandleKind>(m_hDataEvent);
        hRead = TakeHandleField(m_hReadPort);
        hWrite = TakeHandleField(m_hWritePort);
    }
    // After the replacement lock: a Java write blocked on the write handle keeps its close waiting a while.
    CloseTakenHandle(hRead);
    CloseTakenHandle(hWrite);
}

void CUsbComm::StopReaderForUnload() {
    CLockHolder lifecycle(m_guard.m_lifecycleLock);
    m_guard.WithdrawReceive(m_hStopEvent.load());
    WaitReaderEnded();
}
