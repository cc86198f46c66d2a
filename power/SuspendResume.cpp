// Suspend and resume: the printer is told, the link is released while the system is away, and reopened after.

#include "discovery/Discovery.h"
#include "port/KernelObject.h"
#include "port/UsbComm.h"
#include "trace/Trace.h"

namespace {

// The printer's own commands around a suspend. The resume command ends in ESC @, the ESC/POS initialise command.
const BYTE SUSPEND_COMMAND[] = {0x1D, 0xFF};
const BYTE RESUME_COMMAND[] = {0x1D, 0x04, 0x02, 0x1B, 0x40};

// After a resume the USB stack needs time before the device can be opened again.
const DWORD RESUME_SETTLE_PAUSE = 15000;
const DWORD REOPEN_RETRY_PAUSE = 3000;
// Java keeps getting the suspended indication for this long after the link came back.
const DWORD RESUME_END_PAUSE = 5000;

// How long the suspend command may take before it is cancelled: well inside the suspend handler's budget, with
// room for the close that follows.
const DWORD SUSPEND_COMMAND_BOUND = 500;
// How long the suspend close waits for the reader's signal; a close from Java waits longer.
const DWORD SUSPEND_READER_WAIT = 1000;

const DWORD CANCEL_REPEAT_INTERVAL = 10;
// How long the cancels are repeated after the bound: a driver that ignores them keeps the write, and the helper must
// not outlive the handler by more than the rest of its budget.
const DWORD CANCEL_REPEAT_LIMIT = 1000;

struct BoundedWrite {
    HANDLE hWriter;
    HANDLE hDone;
    DWORD dwBound;
};

DWORD WINAPI CancelWriteAfterBound(LPVOID pParam) {
    BoundedWrite *pWrite = static_cast<BoundedWrite *>(pParam);
    if (WaitForSingleObject(pWrite->hDone, pWrite->dwBound) != WAIT_TIMEOUT) return 0;
    // The cancel names the writing thread, not the handle: the handle may be closed meanwhile (a close retires it
    // after a while) and its value given to another object, whose I/O a cancel by value would abort. A cancel that
    // comes before the write has reached the driver finds nothing, so it is repeated until the write is back.
    for (DWORD dwSpent = 0; dwSpent < CANCEL_REPEAT_LIMIT; dwSpent += CANCEL_REPEAT_INTERVAL) {
        CancelSynchronousIo(pWrite->hWriter);
        if (WaitForSingleObject(pWrite->hDone, CANCEL_REPEAT_INTERVAL) != WAIT_TIMEOUT) return 0;
    }
    return 0;
}

// A synchronous write that a helper thread cancels when it has not ended within the bound; the calling thread cannot
// cancel its own blocked call. Without the helper's resources the write goes unbounded rather than not at all.
bool WriteWithinBound(HANDLE hFile, const BYTE *pBytes, DWORD nLength, DWORD dwBound) {
    CKernelHandle writer(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
    CKernelHandle done(!writer ? nullptr : CreateEventA(nullptr, TRUE, FALSE, nullptr));
    BoundedWrite write = {writer.Get(), done.Get(), dwBound};
    CKernelHandle canceller(!done ? nullptr : CreateThread(nullptr, 0, CancelWriteAfterBound, &write, 0, nullptr));
    DWORD nWritten = 0;
    BOOL bWritten = WriteFile(hFile, pBytes, nLength, &nWritten, nullptr);
    DWORD dwWriteError = GetLastError();
    if (canceller) {
        SetEvent(done.Get());
        WaitForSingleObject(canceller.Get(), INFINITE);
        canceller.Reset();
    }
    done.Reset();
    writer.Reset();
    SetLastError(dwWriteError);
    return bWritten != FALSE;
}

void TraceCommand(const char *pszCommand, HANDLE hWrite, bool bWritten, DWORD nWritten) {
    if (!TraceOn()) return;
    if (!bWritten) {
        TraceFailureLine(GetLastError(), "power.command %s h=%d written=%lu", pszCommand, TraceHandle(hWrite),
                         static_cast<unsigned long>(nWritten));
        return;
    }
    TraceLine("power.command %s h=%d written=%lu", pszCommand, TraceHandle(hWrite),
              static_cast<unsigned long>(nWritten));
}

template <class Operation>
bool TryTwice(const char *pszStep, Operation operation) {
    if (operation()) return true;
    TraceFailure(GetLastError(), "resume.%s attempt=1 failed, retry in %lu ms", pszStep,
                 static_cast<unsigned long>(REOPEN_RETRY_PAUSE));
    Sleep(REOPEN_RETRY_PAUSE);
    bool bDone = operation();
    if (!bDone) TraceFailure(GetLastError(), "resume.%s attempt=2 failed", pszStep);
    return bDone;
}

}  // namespace

void CUsbComm::OnPowerSuspend() {
    bool bWasConnected = m_bConnected;
    m_bReopenAtResume = HasReceiveMachinery() || m_hWritePort.load() != nullptr;
    Trace("suspend.begin connected=%d reopen_at_resume=%d", bWasConnected ? 1 : 0, m_bReopenAtResume ? 1 : 0);
    // Set before anything is closed, so that Java calls that begin from now on are refused before they touch a
    // handle.
    m_bSuspended = 1;
    if (bWasConnected) {
        SendSuspendCommand();
        CloseAll();
    }
    m_bConnected = false;
    Trace("suspend.end");
}

bool CUsbComm::CloseAll() {
    CLockHolder lifecycle(m_guard.m_lifecycleLock);
    if (m_nUsbType != USB_TYPE_PRINTER_CLASS) return true;
    // Within the suspend handler's budget, after the bounded suspend command: the teardown that follows still waits
    // for the reader to have ended before anything it uses goes.
    if (!SignalStopAndWait(SUSPEND_READER_WAIT)) return false;
    Teardown();
    return true;
}

void CUsbComm::OnPowerResume() {
    Trace("resume.begin suspended=%d reopen=%d", m_bSuspended ? 1 : 0, m_bReopenAtResume ? 1 : 0);
    if (!m_bSuspended) {
        Sleep(RESUME_END_PAUSE);
        m_bSuspended = 0;
        Trace("resume.end reopened=0");
        return;
    }
    if (!m_bReopenAtResume.exchange(false)) {
        // Java closed the link while the system was away: nothing is reopened and the printer is not told, but
        // Java calls are refused for as long as after any other resume.
        Sleep(RESUME_END_PAUSE);
        m_bSuspended = 0;
        Trace("resume.end reopened=0");
        return;
    }
    Sleep(RESUME_SETTLE_PAUSE);
    bool bReopened = TryTwice("reopen_write", [this] { return ReopenWritePipe(); }) &&
                     TryTwice("reopen_read", [this] { return ReopenReadPipe(); });
    if (bReopened) SendResumeCommand();
    Sleep(RESUME_END_PAUSE);
    m_bSuspended = 0;
    Trace("resume.end reopened=%d", bReopened ? 1 : 0);
}

bool CUsbComm::ComposeOwnPipePath(const char *pszPipeName) {
    int nUsbType = DetectUsbType();
    m_nUsbType = nUsbType;
    if (nUsbType < 0) return false;
    if (!FindDevicePath(nUsbType, m_szDevicePath, DEVICE_PATH_SIZE)) return false;
    if (AppendPipeName(m_szDevicePath, DEVICE_PATH_SIZE, pszPipeName)) return true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

bool CUsbComm::ReopenWritePipe() {
    CLockHolder lifecycle(m_guard.m_lifecycleLock);
    CLockHolder lock(m_guard.m_replaceLock);
    if (!ComposeOwnPipePath(PIPE_NAME_WRITE)) return false;
    return IsOpenHandle(OpenWritePipe(m_szDevicePath));
}

bool CUsbComm::ReopenReadPipe() {
    CLockHolder lifecycle(m_guard.m_lifecycleLock);
    CLockHolder lock(m_guard.m_replaceLock);
    if (!ComposeOwnPipePath(PIPE_NAME_READ)) return false;
    HANDLE hRead = m_hReadPort.load();
    // A suspend that found the link not connected left its reader thread running; that reader's reconnect supplies
    // the read handle, and a second receive machinery would leak the first and run two readers on the device.
    if (hRead != nullptr || m_hStopEvent.load() != nullptr) {
        if (IsOpenHandle(hRead)) return true;
        // The reader's reconnect has not brought the handle back yet.
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    if (m_nUsbType == USB_TYPE_PRINTER_CLASS) {
        // The power handler is already running: this runs on its thread.
        hRead = OpenOverlappedDeviceFile(m_szDevicePath);
        DWORD dwOpenError = GetLastError();
        m_hReadPort = AdoptHandle(hRead);
        if (!CreateReceiveMachinery()) return false;
        if (IsOpenHandle(hRead)) return true;
        SetLastError(dwOpenError);
        return false;
    }

    // The native transport keeps no read handle: the open only proves that the pipe is back.
    CFileHandle probe(OpenDeviceFile(m_szDevicePath));
    if (!probe) return false;
    probe.Reset();
    return true;
}

void CUsbComm::SendCommand(const BYTE *pCommand, DWORD nLength) {
    CHandleLease lease = LeaseWriteHandle();
    if (!lease) return;
    DWORD nWritten = 0;
    bool bWritten = WriteFile(lease.Get(), pCommand, nLength, &nWritten, nullptr) != FALSE;
    TraceCommand("resume", lease.Get(), bWritten, nWritten);
}

void CUsbComm::SendSuspendCommand() {
    CHandleLease lease = LeaseWriteHandle();
    if (!lease) return;
    // Windows gives a suspend handler about two seconds and then sleeps anyway. A printer that takes no data (cover
    // open, paper out) would otherwise hold the power thread in this write, the link would never be closed, and the
    // resume would find the thread still blocked.
    bool bWritten = WriteWithinBound(lease.Get(), SUSPEND_COMMAND, sizeof(SUSPEND_COMMAND), SUSPEND_COMMAND_BOUND);
    TraceCommand("suspend", lease.Get(), bWritten, bWritten ? sizeof(SUSPEND_COMMAND) : 0);
}

void CUsbComm::SendResumeCommand() { SendCommand(RESUME_COMMAND, sizeof(RESUME_COMMAND)); }
