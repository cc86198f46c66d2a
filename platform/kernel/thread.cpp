// Threads of the layer, on std::thread.
#include "kernel/thread.h"

#include "kernel/faults.h"
#include "kernel/thread_identity.h"
#include "kernel/thread_registry.h"

#include <process.h>

#include <system_error>

namespace platform {
namespace {

void runThread(std::shared_ptr<Thread> thread, LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    adoptThreadId(thread->id());
    thread->waitUntilResumed();
    DWORD exitCode = start(parameter);
    // Exit hooks run and the id is given back before the handle is signalled: whoever waited for the thread then
    // finds its windows gone and may see its id on the next thread.
    endCurrentThread();
    // Also before the handle is signalled: whoever waited for the thread finds it no longer counted as live.
    markLayerThreadFinished();
    thread->markEnded(exitCode);
}

}  // namespace

Thread::Thread(DWORD threadId, DWORD suspendCount) : id_(threadId), suspendCount_(suspendCount) {}

DWORD Thread::resume() {
    std::lock_guard<std::mutex> guard(waitLock());
    DWORD previous = suspendCount_;
    // Only the thread itself waits to be resumed.
    if (suspendCount_ > 0 && --suspendCount_ == 0) resumed_.notify_one();
    return previous;
}

DWORD Thread::exitCode() const {
    std::lock_guard<std::mutex> guard(waitLock());
    return ended_ ? exitCode_ : STILL_ACTIVE;
}

bool Thread::isHeldSuspended() const {
    std::lock_guard<std::mutex> guard(waitLock());
    return heldSuspended_;
}

void Thread::waitUntilResumed() {
    std::unique_lock<std::mutex> lock(waitLock());
    heldSuspended_ = suspendCount_ > 0;
    resumed_.wait(lock, [this] { return suspendCount_ == 0; });
    heldSuspended_ = false;
}

void Thread::markEnded(DWORD exitCode) {
    std::lock_guard<std::mutex> guard(waitLock());
    exitCode_ = exitCode;
    ended_ = true;
    wakeWaiters();
}

bool Thread::isSignalled(DWORD) const { return ended_; }

bool Thread::consume(DWORD) { return false; }

HANDLE startThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended, DWORD *threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD id = reserveThreadId();
    auto thread = std::make_shared<Thread>(id, suspended ? 1 : 0);
    HANDLE handle = insertHandle(thread);
    if (handle == nullptr) {
        releaseReservedThreadId(id);
        return nullptr;
    }
    try {
        // A thread runs to its end whether or not anyone keeps its handle; the layer joins it afterwards.
        startLayerThread([thread, start, parameter] { runThread(thread, start, parameter); });
    } catch (const std::system_error &) {
        removeHandle(handle);
        releaseReservedThreadId(id);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) *threadId = id;
    return handle;
}

bool isThreadHeldSuspended(HANDLE handle) {
    auto thread = std::dynamic_pointer_cast<Thread>(lookupHandle(handle));
    return thread && thread->isHeldSuspended();
}

}  // namespace platform

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                      LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                                      LPDWORD lpThreadId) {
    if (platform::injectedFault("CreateThread")) return nullptr;
    return platform::startThread(lpStartAddress, lpParameter, (dwCreationFlags & CREATE_SUSPENDED) != 0, lpThreadId);
}

extern "C" uintptr_t _beginthreadex(void *security, unsigned stack_size, unsigned (*start_address)(void *),
                                    void *arglist, unsigned initflag, unsigned *thrdaddr) {
    if (platform::injectedFault("_beginthreadex")) return 0;
    DWORD id = 0;
    HANDLE handle = platform::startThread(start_address, arglist, (initflag & CREATE_SUSPENDED) != 0, &id);
    if (handle == nullptr) return 0;
    if (thrdaddr != nullptr) *thrdaddr = id;
    return reinterpret_cast<uintptr_t>(handle);
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread) {
    if (platform::injectedFault("ResumeThread")) return static_cast<DWORD>(-1);
    auto thread = platform::lookupHandleAs<platform::Thread>(hThread);
    if (!thread) return static_cast<DWORD>(-1);
    return thread->resume();
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = platform::lookupHandleAs<platform::Thread>(hThread);
    if (!thread) return FALSE;
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = thread->exitCode();
    return TRUE;
}

extern "C" DWORD WINAPI GetThreadId(HANDLE Thread) {
    auto thread = platform::lookupHandleAs<platform::Thread>(Thread);
    if (!thread) return 0;
    return thread->id();
}
