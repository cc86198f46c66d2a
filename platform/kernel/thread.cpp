// Threads of the layer, on std::thread.
#include "kernel/thread.h"

#include "files/thread_io.h"
#include "kernel/faults.h"
#include "kernel/thread_identity.h"
#include "kernel/thread_registry.h"

#include <process.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <unordered_map>

namespace platform {
namespace {

// The running threads of the layer by id, for OpenThread; a thread leaves before its id can be given out again.
struct RunningThreads {
    std::mutex lock;
    std::unordered_map<DWORD, std::weak_ptr<Thread>> byId;
};

// Never destroyed: threads of the layer may still end while the process exits.
RunningThreads &runningThreads() {
    static auto *instance = new RunningThreads;
    return *instance;
}

void addRunningThread(const std::shared_ptr<Thread> &thread) {
    RunningThreads &running = runningThreads();
    std::lock_guard<std::mutex> guard(running.lock);
    running.byId[thread->id()] = thread;
}

void removeRunningThread(DWORD threadId) {
    RunningThreads &running = runningThreads();
    std::lock_guard<std::mutex> guard(running.lock);
    running.byId.erase(threadId);
}

// Threads a test holds back before their first run.
struct HeldThreads {
    std::mutex lock;
    std::condition_variable released;
    int toHold = 0;
    size_t waiting = 0;
    uint64_t releases = 0;
};

HeldThreads &heldThreads() {
    static auto *instance = new HeldThreads;
    return *instance;
}

// Whether a thread starting now is held, and if so the release it waits for: one that comes before the thread gets
// to its wait still counts.
bool takeHold(uint64_t &releasesBefore) {
    HeldThreads &held = heldThreads();
    std::lock_guard<std::mutex> guard(held.lock);
    if (held.toHold == 0) return false;
    --held.toHold;
    releasesBefore = held.releases;
    return true;
}

void waitUntilReleased(uint64_t releasesBefore) {
    HeldThreads &held = heldThreads();
    std::unique_lock<std::mutex> lock(held.lock);
    ++held.waiting;
    held.released.wait(lock, [&] { return held.releases != releasesBefore; });
    --held.waiting;
}

void runThread(std::shared_ptr<Thread> thread, LPTHREAD_START_ROUTINE start, LPVOID parameter, bool held,
               uint64_t releasesBefore) {
    adoptThreadId(thread->id());
    thread->waitUntilResumed();
    if (held) waitUntilReleased(releasesBefore);
    DWORD exitCode = start(parameter);
    // The thread's pending requests end with it, before it counts as ended (files/thread_io.h).
    rundownThreadIo(thread->id());
    removeRunningThread(thread->id());
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

void holdNextThreads(int count) {
    HeldThreads &held = heldThreads();
    std::lock_guard<std::mutex> guard(held.lock);
    held.toHold = count;
}

void releaseHeldThreads() {
    HeldThreads &held = heldThreads();
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.toHold = 0;
        ++held.releases;
    }
    held.released.notify_all();
}

size_t heldThreadCount() {
    HeldThreads &held = heldThreads();
    std::lock_guard<std::mutex> guard(held.lock);
    return held.waiting;
}

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
    addRunningThread(thread);
    try {
        // A thread runs to its end whether or not anyone keeps its handle; the layer joins it afterwards.
        uint64_t releasesBefore = 0;
        bool held = takeHold(releasesBefore);
        startLayerThread([thread, start, parameter, held, releasesBefore] {
            runThread(thread, start, parameter, held, releasesBefore);
        });
    } catch (const std::system_error &) {
        removeRunningThread(id);
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

extern "C" HANDLE WINAPI OpenThread(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwThreadId) {
    static_cast<void>(dwDesiredAccess);
    static_cast<void>(bInheritHandle);
    std::shared_ptr<platform::Thread> thread;
    {
        platform::RunningThreads &running = platform::runningThreads();
        std::lock_guard<std::mutex> guard(running.lock);
        auto found = running.byId.find(dwThreadId);
        if (found != running.byId.end()) thread = found->second.lock();
    }
    // Only threads the layer started have a thread object to name; Windows answers an unknown id this way too.
    if (!thread) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return platform::insertHandle(thread);
}

extern "C" DWORD WINAPI GetThreadId(HANDLE Thread) {
    auto thread = platform::lookupHandleAs<platform::Thread>(Thread);
    if (!thread) return 0;
    return thread->id();
}
