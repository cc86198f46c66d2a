// Mutex objects.
#include "kernel/mutex.h"

#include "kernel/faults.h"
#include "kernel/thread_exit.h"
#include "kernel/thread_identity.h"

#include <algorithm>
#include <vector>

namespace platform {
namespace {

// Every live mutex, so that the mutexes of an ending thread can be found. Guarded by waitLock().
std::vector<std::weak_ptr<Mutex>> &liveMutexes() {
    static auto *list = new std::vector<std::weak_ptr<Mutex>>;
    return *list;
}

void abandonMutexesOf(DWORD threadId) {
    std::lock_guard<std::mutex> guard(waitLock());
    auto &list = liveMutexes();
    for (auto &entry : list) {
        if (auto mutex = entry.lock()) mutex->abandonIfOwnedBy(threadId);
    }
}

void track(const std::shared_ptr<Mutex> &mutex) {
    static std::once_flag hookAdded;
    // The hook must run before the thread's id can be given to another thread, or that thread would own the mutex.
    std::call_once(hookAdded, [] { addThreadExitHook(abandonMutexesOf); });
    std::lock_guard<std::mutex> guard(waitLock());
    auto &list = liveMutexes();
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto &entry) { return entry.expired(); }), list.end());
    list.push_back(mutex);
}

}  // namespace

Mutex::Mutex(DWORD initialOwner) : owner_(initialOwner), recursion_(initialOwner != 0 ? 1 : 0) {}

bool Mutex::release(DWORD threadId) {
    std::lock_guard<std::mutex> guard(waitLock());
    if (owner_ == 0 || owner_ != threadId) return false;
    if (--recursion_ == 0) {
        owner_ = 0;
        wakeWaiters();
    }
    return true;
}

void Mutex::abandonIfOwnedBy(DWORD threadId) {
    if (owner_ == 0 || owner_ != threadId) return;
    owner_ = 0;
    recursion_ = 0;
    abandoned_ = true;
    wakeWaiters();
}

bool Mutex::isSignalled(DWORD threadId) const { return owner_ == 0 || owner_ == threadId; }

bool Mutex::consume(DWORD threadId) {
    if (owner_ == threadId) {
        ++recursion_;
        return false;
    }
    owner_ = threadId;
    recursion_ = 1;
    bool wasAbandoned = abandoned_;
    abandoned_ = false;
    return wasAbandoned;
}

}  // namespace platform

extern "C" HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
    if (platform::injectedFault("CreateMutexA")) return nullptr;
    // Named mutexes would be shared between callers; the layer has no namespace for them.
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    DWORD owner = bInitialOwner ? platform::currentThreadId() : 0;
    auto mutex = std::make_shared<platform::Mutex>(owner);
    platform::track(mutex);
    return platform::insertHandle(mutex);
}

extern "C" BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    auto mutex = platform::lookupHandleAs<platform::Mutex>(hMutex);
    if (!mutex) return FALSE;
    if (!mutex->release(platform::currentThreadId())) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
