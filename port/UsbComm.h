// The port state: all transport state of the library, in one process-wide object.
#pragma once

#include <windows.h>

#include <jni.h>

#include <atomic>

#include "discovery/Discovery.h"
#include "port/LinkGuard.h"
#include "port/ThreadSafety.h"

class CCircularBuffer;

// The last error that reads and writes report while the system is suspended.
const DWORD ERROR_POWER_SUSPENDED_CODE = 0x100E0697;

// Every flag and handle field that one thread writes and another reads is atomic, of the width and meaning it would
// have as a plain field. Which thread may change which field, and how handles, events and the ring buffer are kept
// alive while another thread uses them, is written down in LinkGuard.h.
class CUsbComm {
public:
    CUsbComm();
    // Releases nothing: Java closes the link before the library goes away.
    virtual ~CUsbComm();

    // ---- What the exports ask of the port state: jni/ calls these and takes none of the locks itself ----
    // The suspended state that Java calls are refused in.
    bool IsSuspended() const { return m_bSuspended != 0; }
    // With the power window gone no resume can arrive to end a suspension; the return to the loaded state ends it.
    void EndSuspensionForUnload() { m_bSuspended = 0; }
    // The transport the last detection found; the later calls branch on it.
    void RecordUsbType(int nUsbType) { m_nUsbType = nUsbType; }
    // The open of a pipe for Java, under the lifecycle lock. The read pipe: a held read handle is handed out again;
    // otherwise the printer-class transport brings up its receive machinery, and the native transport opens a handle
    // that only Java keeps. The write pipe: OpenWritePipe. A handle that is not open (null or INVALID_HANDLE_VALUE)
    // when it failed, with the code in the last error.
    HANDLE OpenPipeForJava(int nUsbType, bool bRead, const char *pszPipePath) EXCLUDES(m_guard.m_lifecycleLock);
    // The first half of usbClosePipe, under both locks: *pbPrinterClass when the value is the printer-class link's,
    // which only ClosePrinterClassPipe may close; otherwise the handle is retired, if the library holds it. False,
    // with the code in the last error, for a value it does not hold.
    bool CloseJavaHandle(jint nHandle, bool *pbPrinterClass) EXCLUDES(m_guard.m_lifecycleLock);
    // The road of a Java read or control request, decided with the lease the native road needs under the
    // replacement lock, so that a reconnect cannot slip between: *pbPrinterClass for the printer-class link's
    // handles, otherwise a lease on the handle (empty, with ERROR_INVALID_HANDLE, for a value the library does not
    // hold).
    CHandleLease RouteJavaHandle(jint nHandle, bool *pbPrinterClass) EXCLUDES(m_guard.m_replaceLock);

    // ---- Printer-class transport ----
    int ReaderLoop();
    int Reconnect();
    int TimedRead(BYTE *pDest, DWORD nWanted, DWORD *pnTaken, DWORD dwTimeout);
    // The read-side open, with the lifecycle lock held: brings up the read handle, events, ring buffer and reader
    // thread. Returns the read handle to hand to Java, or null when a step failed. The caller brings the power
    // handler in line with the link (SyncPowerHandler) once it has let go of the lifecycle lock.
    HANDLE OpenPrinterClassReadPipe(const char *pszPipePath) REQUIRES(m_guard.m_lifecycleLock);
    // The write pipe, on both transports, with the replacement lock taken: a held write handle is kept, otherwise
    // the pipe is opened and kept in m_hWritePort. A failed open leaves the field empty, so that the next open
    // really tries again. Returns the field's handle, or INVALID_HANDLE_VALUE when the open failed.
    HANDLE OpenWritePipe(const char *pszPipePath);
    // The close of either pipe: tears the whole link down. 0 when it ran, 1 when it was abandoned.
    int ClosePrinterClassPipe(jint nHandle) EXCLUDES(m_guard.m_lifecycleLock);
    // Whether a Java handle value belongs to the printer-class link, whatever the last detection recorded: the
    // printer-class read handle is overlapped and read only by the reader thread, so reads, control requests and
    // closes of the link's handles must take the printer-class road. Decided under the replacement lock, so that
    // a reconnect cannot replace the handles between the decision and what follows it.
    bool IsPrinterClassHandle(jint nHandle) REQUIRES(m_guard.m_replaceLock);
    // A lease on the write pipe held now; empty, with ERROR_INVALID_HANDLE, when there is none.
    CHandleLease LeaseWriteHandle();
    // True while the printer-class receive machinery (events, ring buffer, reader thread) is up.
    bool HasReceiveMachinery() const { return m_hStopEvent.load() != nullptr; }
    // A close by Java: the link it had is no longer one to bring back after a resume.
    void ForgetLinkForResume() { m_bReopenAtResume = false; }
    // For the library's unload: stops the reader thread and waits for it, so that none of the library's code runs
    // after it is gone.
    void StopReaderForUnload();

    // ---- Suspend and resume ----
    void OnPowerSuspend();
    void OnPowerResume();
    int CloseAll();
    int ReopenWritePipe();
    int ReopenReadPipe();
    void SendSuspendCommand();
    void SendResumeCommand();

    // ---- Fields ----
    // The handle, event and buffer fields change only under m_guard's replacement lock (LinkGuard.h) but are read
    // without it on purpose: the reader thread and Java's writes read them on every pass, and the rules there keep
    // what a read value names alive. The flags are single words that one thread sets and others poll. Both are
    // atomics of the width a plain field has, so no read is torn; the compiler checks the locks, not these reads.
    std::atomic<int> m_nUsbType;
    char m_szDevicePath[DEVICE_PATH_SIZE] GUARDED_BY(m_guard.m_replaceLock);
    std::atomic<int> m_bReaderBusy;
    std::atomic<HANDLE> m_hStopEvent;
    std::atomic<HANDLE> m_hThreadDoneEvent;
    std::atomic<bool> m_bConnected;
    std::atomic<HANDLE> m_hDataEvent;
    std::atomic<int> m_bRunning;
    std::atomic<CCircularBuffer *> m_pCCBuffer;
    std::atomic<HANDLE> m_hReadPort;
    std::atomic<HANDLE> m_hWritePort;
    std::atomic<int> m_bOpened;
    std::atomic<HANDLE> m_hReaderThread;
    std::atomic<int> m_bSuspended;

    // Keeps handles, events and the ring buffer alive while other threads use them.
    CLinkGuard m_guard;

private:
    // Set by the suspend when a link was open, cleared by any close from Java: the resume reopens the link, and
    // sends the printer its resume command, only for a link its owner still wants.
    std::atomic<bool> m_bReopenAtResume{false};

    // Shared by the read-side open and the resume's reopen: events, ring buffer and reader thread for the read
    // handle in m_hReadPort. False at the first step that fails; what was created before stays.
    bool CreateReceiveMachinery();
    // The stop of the reader thread and its bounded waits, shared by the closes and the suspend close: signals
    // m_hStopEvent and waits for m_hThreadDoneEvent at most dwTimeout. False when the wait failed while the reader
    // was busy.
    bool SignalStopAndWait(DWORD dwTimeout);
    int CloseMatchingHandle();
    int CloseOtherHandle();
    // The release of the whole printer-class link, shared by the closes and the suspend close. Runs only after the
    // reader thread was told to stop; waits for it to end, and for every user of what it releases to leave.
    void Teardown();
    // Waits until the reader thread has ended, cancelling its pending read, before anything it uses goes away.
    void WaitReaderEnded();
    // Stores a pipe handle that was just opened, so that later lookups find it; INVALID_HANDLE_VALUE passes through.
    HANDLE AdoptHandle(HANDLE hHandle);
    // Closes the handle held in a field and empties the field, after the handle's users have left.
    void ReleaseHandleField(std::atomic<HANDLE> &field);
    void SendCommand(const BYTE *pCommand, DWORD nLength);
    // The native transport's read pipe for Java: a held read handle, or a new one that only Java keeps.
    HANDLE OpenNativeReadPipe(const char *pszPipePath) REQUIRES(m_guard.m_lifecycleLock);
    // Composes "<interface path>\<pipe name>" in the port state's own path buffer for a fresh detection.
    bool ComposeOwnPipePath(const char *pszPipeName);
};

// The one port state of the process.
extern CUsbComm g_UsbComm;
