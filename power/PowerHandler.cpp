#include "power/PowerHandler.h"

#include <process.h>

#include "port/KernelObject.h"
#include "port/Lock.h"
#include "port/UsbComm.h"
#include "power/PowerWindowClass.h"
#include "trace/Trace.h"

std::atomic<CUsbComm *> g_pPowerTarget(nullptr);

namespace {

// Serialises the start, the stop and the shutdown, the operations that may wait for a power thread to end. Never taken
// on the power thread, so a wait under it cannot be a wait for its own holder.
CLock g_powerLifecycleLock;

// Guards the kept thread handle, the quit flag, and the decision between a stop and the start of a suspend. Held only
// for short steps: never across a handler or while a power thread is waited for.
CLock g_powerStateLock ACQUIRED_AFTER(g_powerLifecycleLock);
HANDLE g_hPowerThread GUARDED_BY(g_powerStateLock) = nullptr;
bool g_bPowerQuitPosted GUARDED_BY(g_powerStateLock) = false;

// Set once the kept power thread has been told to quit: a broadcast it still receives before the quit arrives finds
// the link closed, and a suspend taken now would never see its resume.
std::atomic<bool> g_bPowerStopping(false);

// An idle power thread ends at once on its quit; the stop waits this long for it, so that its handle goes with the
// link. A thread still inside a handler is left to end by itself and is reaped by the next start or the unload.
const DWORD POWER_THREAD_END_WAIT = 1000;
// How often the end of the power thread looks again whether its quit still has to be posted.
const DWORD QUIT_RETRY_WAIT = 100;

// The newest power thread reports here whether its window exists, then sets the ready event.
std::atomic<HANDLE> g_hPowerReadyEvent(nullptr);
std::atomic<bool> g_bPowerWindowCreated(false);

// Windows broadcasts PBT_APMRESUMEAUTOMATIC on every wake, and PBT_APMRESUMESUSPEND after it only once a person is
// at the machine; a wake with nobody present (a scheduled task, a remote wake for a print job) brings the automatic
// resume alone (learn.microsoft.com/windows/win32/power/pbt-apmresumesuspend). The link therefore comes back on the
// automatic resume, and this records that the PBT_APMRESUMESUSPEND of the same wake is still to come and has nothing
// left to do. Cleared by a suspend and by the start of a power thread, whose window has seen no resume yet.
std::atomic<bool> g_bAutomaticResumeRan(false);

// True for the PBT_APMRESUMESUSPEND that follows a handled automatic resume; the record is used up by it.
bool IsResumeOfAHandledWake(WPARAM event) {
    return event == PBT_APMRESUMESUSPEND && g_bAutomaticResumeRan.exchange(false);
}

// A suspend begins only while the thread is not stopping: a thread that quits with the port state suspended leaves
// no window for the resume, and every Java call would be refused from then on.
bool BeginSuspend(CUsbComm *pTarget) {
    CLockHolder lock(g_powerStateLock);
    if (g_bPowerStopping) return false;
    pTarget->BeginSuspension();
    return true;
}

// A resume that found no link to bring back (Java closed it while the system was away) leaves nothing for the power
// thread to do: it ends. Decided under the state lock, like a reuse of the thread by an open, so that an open that
// brought a link up meanwhile keeps the thread.
void PostQuitToPowerThread() REQUIRES(g_powerStateLock);
void QuitUnlessLinkIsUp(CUsbComm *pTarget) {
    CLockHolder lock(g_powerStateLock);
    if (pTarget->HasReceiveMachinery() || pTarget->IsSuspended()) return;
    PostQuitToPowerThread();
}

bool IsThreadRunning(HANDLE hThread) { return WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT; }

// Thread ids are reused once a thread has ended, so the quit goes only to the kept thread while it still runs, and
// only once.
void PostQuitToPowerThread() REQUIRES(g_powerStateLock) {
    if (g_hPowerThread == nullptr || g_bPowerQuitPosted) return;
    if (!IsThreadRunning(g_hPowerThread)) return;
    g_bPowerStopping = true;
    // A post that failed is tried again by the next stop or by the end's wait below; marking it posted would leave
    // that wait without end.
    g_bPowerQuitPosted = PostThreadMessageA(GetThreadId(g_hPowerThread), WM_QUIT, 0, 0) != FALSE;
}

// The kept thread's handle is a plain global rather than an owner: a static destructor must not release it after the
// library's own shutdown (or the platform layer's) has run.
void ReleasePowerThreadHandle() REQUIRES(g_powerStateLock) {
    ReleaseAndEmpty<KernelHandleKind>(g_hPowerThread);
    g_bPowerQuitPosted = false;
}

bool ReuseRunningPowerThread(CUsbComm *target) {
    CLockHolder lock(g_powerStateLock);
    if (g_hPowerThread == nullptr || g_bPowerQuitPosted || !g_bPowerWindowCreated) return false;
    if (!IsThreadRunning(g_hPowerThread)) return false;
    g_pPowerTarget = target;
    return true;
}

// Tells the kept power thread to quit unless it was told already, waits until it has ended, and closes its handle.
// The wait lasts as long as a suspend or resume handler the thread is running. Called with the lifecycle lock held.
void EndPowerThread() REQUIRES(g_powerLifecycleLock) {
    HANDLE hThread;
    {
        CLockHolder lock(g_powerStateLock);
        hThread = g_hPowerThread;
        if (hThread == nullptr) return;
        PostQuitToPowerThread();
    }
    // As long as a handler runs; the quit is posted again while an earlier post failed.
    while (WaitForSingleObject(hThread, QUIT_RETRY_WAIT) == WAIT_TIMEOUT) {
        CLockHolder lock(g_powerStateLock);
        PostQuitToPowerThread();
    }

    CLockHolder lock(g_powerStateLock);
    ReleasePowerThreadHandle();
}

// Returns only once the new thread has its message queue (its window exists) or has ended, so that a stop right
// after the start finds a thread that can receive its quit. Called with the lifecycle lock held.
bool CreatePowerThread(CUsbComm *target) REQUIRES(g_powerLifecycleLock) {
    g_pPowerTarget = nullptr;

    CKernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) return false;
    g_hPowerReadyEvent = ready.Get();
    g_bPowerWindowCreated = false;

    g_bPowerStopping = false;
    HANDLE hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, PowerHandlerThread, nullptr, 0, nullptr));
    if (hThread == nullptr) {
        g_hPowerReadyEvent = nullptr;
        ready.Reset();
        return false;
    }
    {
        CLockHolder lock(g_powerStateLock);
        g_hPowerThread = hThread;
        g_bPowerQuitPosted = false;
    }
    g_pPowerTarget = target;

    HANDLE waits[2] = {ready.Get(), hThread};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    g_hPowerReadyEvent = nullptr;
    ready.Reset();
    return true;
}

bool StartPowerHandlerLocked(CUsbComm *target) REQUIRES(g_powerLifecycleLock) {
    // One power thread at a time: a second window would run every handler twice for one broadcast.
    if (ReuseRunningPowerThread(target)) return true;
    EndPowerThread();
    // Registered only now: a stop may have unregistered the class while the old thread was ending. When the class
    // is still registered this fails, and the existing class serves.
    RegisterPowerWindowClass();
    return CreatePowerThread(target);
}

void StopPowerHandlerLocked(CUsbComm *pComm) REQUIRES(g_powerLifecycleLock) {
    HANDLE hThread;
    {
        CLockHolder lock(g_powerStateLock);
        if (pComm != nullptr && pComm->IsSuspended()) return;
        PostQuitToPowerThread();
        hThread = g_hPowerThread;
    }
    if (hThread != nullptr && WaitForSingleObject(hThread, POWER_THREAD_END_WAIT) == WAIT_OBJECT_0) {
        CLockHolder lock(g_powerStateLock);
        ReleasePowerThreadHandle();
    }
    // Fails while the window still exists; the next start then uses the class as it is.
    UnregisterClassA(POWER_WINDOW_CLASS, nullptr);
}

}  // namespace

bool StartPowerHandler(CUsbComm *target) {
    CLockHolder lifecycle(g_powerLifecycleLock);
    return StartPowerHandlerLocked(target);
}

void StopPowerHandler() { StopPowerHandlerUnlessSuspended(nullptr); }

void StopPowerHandlerUnlessSuspended(CUsbComm *pComm) {
    CLockHolder lifecycle(g_powerLifecycleLock);
    StopPowerHandlerLocked(pComm);
}

void SyncPowerHandler(CUsbComm *pComm) {
    CLockHolder lifecycle(g_powerLifecycleLock);
    // Decided from the link as it is now, under the lock that orders every start and stop: an open and a close
    // that race each call this after their own change, so the last call sees the last change.
    if (pComm->HasReceiveMachinery()) {
        StartPowerHandlerLocked(pComm);
        return;
    }
    StopPowerHandlerLocked(pComm);
}

void ShutdownPowerHandler() {
    CLockHolder lifecycle(g_powerLifecycleLock);
    EndPowerThread();
    // The window has gone with its thread, so this succeeds and no class is left pointing into unloaded code.
    UnregisterClassA(POWER_WINDOW_CLASS, nullptr);
}

ATOM RegisterPowerWindowClass() {
    WNDCLASSEXA wc;
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = CS_VREDRAW | CS_HREDRAW;
    wc.lpfnWndProc = PowerHandlerWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = nullptr;
    wc.hIcon = nullptr;
    wc.hCursor = nullptr;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = POWER_WINDOW_CLASS;
    wc.hIconSm = nullptr;
    return RegisterClassExA(&wc);
}

unsigned WINAPI PowerHandlerThread(void *pParam) {
    TraceSetRole(TRACE_ROLE_POWER);
    g_bAutomaticResumeRan = false;
    // Top-level and hidden: message-only windows do not receive the power broadcast.
    HWND hWnd = CreateWindowExA(0, POWER_WINDOW_CLASS, nullptr, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    g_bPowerWindowCreated = (hWnd != nullptr);
    Trace("power.window created=%d", hWnd != nullptr ? 1 : 0);
    SetEvent(g_hPowerReadyEvent);
    if (hWnd == nullptr) return 0;

    MSG msg;
    BOOL nMessage;  // GetMessage gives -1 on an error, so not a boolean
    while ((nMessage = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        // On an error the message is not filled in; dispatching it would act on garbage.
        if (nMessage == -1) return 0;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<unsigned>(msg.wParam);
}

LRESULT CALLBACK PowerHandlerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg != WM_POWERBROADCAST) return DefWindowProcA(hWnd, uMsg, wParam, lParam);

    // Before the start has stored its target there is no port state to act on.
    CUsbComm *pTarget = g_pPowerTarget;
    Trace("power.broadcast event=%lu ignored=%d", static_cast<unsigned long>(wParam),
          pTarget == nullptr || g_bPowerStopping ? 1 : 0);
    if (pTarget == nullptr || g_bPowerStopping) return TRUE;

    if (wParam == PBT_APMSUSPEND) {
        g_bAutomaticResumeRan = false;
        if (BeginSuspend(pTarget)) pTarget->OnPowerSuspend();
    } else if (IsResumeOfAHandledWake(wParam)) {
        Trace("power.resume already_handled=1");
    } else if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) {
        g_bAutomaticResumeRan = wParam == PBT_APMRESUMEAUTOMATIC;
        pTarget->OnPowerResume();
        QuitUnlessLinkIsUp(pTarget);
    }
    // Every event is answered TRUE, so a suspend query is always granted.
    return TRUE;
}
