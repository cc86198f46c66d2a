// The port state: all transport state of the library, in one process-wide object.
#pragma once

#include <windows.h>

#include <jni.h>

#include <atomic>
#include <memory>

#include "discovery/Discovery.h"
#include "port/LinkGuard.h"
#include "port/ThreadSafety.h"

class CCircularBuffer;
// The reader thread's reads: the one it issues, and those whose cancel a driver ignored
// (printerclass/ReaderThread.cpp).
struct CReaderReads;

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
    // The start of a suspension, decided by the power handler: Java calls are refused from now on.
    void BeginSuspension() { m_bSuspended = 1; }
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
    // The body of the reader thread (ReaderThreadProc): runs the reader loop and signals its end.
    DWORD RunReaderThread();
    // The timed buffered read of a Java read: true when bytes were taken into pDest (their count in *pnTaken), or
    // when the data event woke it and the bytes were gone before it could take them, so that the caller tries
    // again; false with the code in the last error (a time-out, a stop, no receive machinery).
    bool TimedRead(BYTE *pDest, DWORD nWanted, DWORD *pnTaken, DWORD dwTimeout);
    // The write pipe, on both transports, with the replacement lock taken: a held write handle is kept, otherwise
    // the pipe is opened and kept in m_hWritePort. A failed open leaves the field empty, so that the next open
    // really tries again. Returns the field's handle, or INVALID_HANDLE_VALUE when the open failed.
    HANDLE OpenWritePipe(const char *pszPipePath);
    // The close of either pipe: tears the whole link down. 0 when it ran, 1 when it was abandoned.
    int ClosePrinterClassPipe(jint nHandle) EXCLUDES(m_guard.m_lifecycleLock);
    // A lease on the write pipe held now; empty, with ERROR_INVALID_HANDLE, when there is none.
    CHandleLease LeaseWriteHandle() EXCLUDES(m_guard.m_replaceLock);
    // True while the printer-class receive machinery (events, ring buffer, reader thread) is up.
    bool HasReceiveMachinery() const { return m_hStopEvent.load() != nullptr; }
    // A close by Java: the link it had is no longer one to bring back after a resume.
    void ForgetLinkForResume() { m_bReopenAtResume = false; }
    // For the library's unload: stops the reader thread and waits for it, so that none of the library's code runs
    // after it is gone.
    void StopReaderForUnload() EXCLUDES(m_guard.m_lifecycleLock);

    // ---- Suspend and resume ----
    void OnPowerSuspend();
    void OnPowerResume();

    // ---- What the fields hold now ----
    // Each is one atomic load, for diagnostics and for tests that watch the link come and go: a value read here
    // may be replaced at once, so none of them is for use as a handle.
    int UsbType() const { return m_nUsbType; }
    int ReaderBusyFlag() const { return m_bReaderBusy; }
    HANDLE StopEvent() const { return m_hStopEvent; }
    HANDLE ThreadDoneEvent() const { return m_hThreadDoneEvent; }
    bool IsConnected() const { return m_bConnected; }
    HANDLE DataEvent() const { return m_hDataEvent; }
    int RunningFlag() const { return m_bRunning; }
    CCircularBuffer *RingBuffer() const { return m_pCCBuffer; }
    HANDLE ReadPort() const { return m_hReadPort; }
    HANDLE WritePort() const { return m_hWritePort; }
    int OpenedFlag() const { return m_bOpened; }
    HANDLE ReaderThread() const { return m_hReaderThread; }
    int SuspendedFlag() const { return m_bSuspended; }
    // A copy of the whole path buffer, taken under the replacement lock.
    void CopyDevicePath(char (&szDest)[DEVICE_PATH_SIZE]) EXCLUDES(m_guard.m_replaceLock);

private:
    // Tests that must set up a state no operation produces (a reader that ended with its loop flag still set, a
    // connected flag without a device) reach the fields through this, and only there.
    friend struct UsbCommTestAccess;

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

    // Set by the suspend when a link was open, cleared by any close from Java: the resume reopens the link, and
    // sends the printer its resume command, only for a link its owner still wants.
    std::atomic<bool> m_bReopenAtResume{false};

    // ---- The reader thread's passes (printerclass/ReaderThread.cpp) ----
    void ReaderLoop(CReaderReads &reads);
    // Releases both pipe handles and opens them again; false, with the code of the failing open in the last error,
    // when the link did not come back.
    bool Reconnect() EXCLUDES(m_guard.m_replaceLock);
    void StoreReceived(const BYTE *pBytes, DWORD nCount);
    // Pauses on the stop event; true when it was signalled, after which the loop ends.
    bool PauseUntilStopped(DWORD dwPause);
    bool StopRequested();
    void ReconnectAfter(DWORD dwError);
    bool AwaitRoomForBlock();
    void AwaitPendingRead(CReaderReads &reads);
    // At the reader's end: the reads it abandoned still pending are ended by the cleanup of the read handle's close,
    // and their memory goes only when they have ended.
    void EndAbandonedReads(CReaderReads &reads);

    // The read-side open, with the lifecycle lock held: brings up the read handle, events, ring buffer and reader
    // thread. Returns the read handle to hand to Java, or null when a step failed. The caller brings the power
    // handler in line with the link (SyncPowerHandler) once it has let go of the lifecycle lock.
    HANDLE OpenPrinterClassReadPipe(const char *pszPipePath) REQUIRES(m_guard.m_lifecycleLock);
    // Whether a Java handle value belongs to the printer-class link, whatever the last detection recorded: the
    // printer-class read handle is overlapped and read only by the reader thread, so reads, control requests and
    // closes of the link's handles must take the printer-class road. Decided under the replacement lock, so that
    // a reconnect cannot replace the handles between the decision and what follows it.
    bool IsPrinterClassHandle(jint nHandle) REQUIRES(m_guard.m_replaceLock);
    // Shared by the read-side open and the resume's reopen: events, ring buffer and reader thread for the read
    // handle in m_hReadPort. False at the first step that fails; what was created before stays.
    bool CreateReceiveMachinery();
    // The stop of the reader thread and its bounded waits, shared by the closes and the suspend close: signals
    // m_hStopEvent and waits for m_hThreadDoneEvent at most dwTimeout. False when the wait failed while the reader
    // was busy.
    bool SignalStopAndWait(DWORD dwTimeout);
    // The two closes of the link; true when the teardown ran, false when it was abandoned because the reader could
    // not be known to have stopped (the code of the failed wait in the last error).
    bool CloseMatchingHandle();
    bool CloseOtherHandle();
    // The release of the whole printer-class link, shared by the closes and the suspend close. Runs only after the
    // reader thread was told to stop; waits for it to end, and for every user of what it releases to leave.
    void Teardown() EXCLUDES(m_guard.m_replaceLock);
    // Waits until the reader thread has ended, cancelling its pending read, before anything it uses goes away.
    void WaitReaderEnded();
    // Stores a pipe handle that was just opened, so that later lookups find it; INVALID_HANDLE_VALUE passes through.
    HANDLE AdoptHandle(HANDLE hHandle);
    // Closes the handle held in a field and empties the field, after the handle's users have left. With no lock of
    // the library held (LinkGuard.h, rule 2); a caller that must empty the field under the replacement lock takes
    // the handle out of service there (TakeHandleField) and closes it after letting go (CloseTakenHandle).
    void ReleaseHandleField(std::atomic<HANDLE> &field);
    // Empties the field and takes its handle out of service; the handle, or null when there was none to take.
    HANDLE TakeHandleField(std::atomic<HANDLE> &field) REQUIRES(m_guard.m_replaceLock);
    void CloseTakenHandle(HANDLE hHandle);
    // The native transport's read pipe for Java: a held read handle, or a new one that only Java keeps.
    HANDLE OpenNativeReadPipe(const char *pszPipePath) REQUIRES(m_guard.m_lifecycleLock);

    // ---- Suspend and resume (power/SuspendResume.cpp) ----
    // The suspend close; true when the link was released or there was none to release.
    bool CloseAll() EXCLUDES(m_guard.m_lifecycleLock);
    // The resume's reopens; false, with the code of the failing step in the last error, when the pipe is not back.
    bool ReopenWritePipe() EXCLUDES(m_guard.m_lifecycleLock);
    bool ReopenReadPipe() EXCLUDES(m_guard.m_lifecycleLock);
    void SendSuspendCommand();
    void SendResumeCommand();
    void SendCommand(const BYTE *pCommand, DWORD nLength);
    // Composes "<interface path>\<pipe name>" in the port state's own path buffer for a fresh detection.
    bool ComposeOwnPipePath(const char *pszPipeName) REQUIRES(m_guard.m_replaceLock);
};

// The one port state of the process.
extern CUsbComm g_UsbComm;
