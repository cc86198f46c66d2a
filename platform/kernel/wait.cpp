// WaitForSingleObject and WaitForMultipleObjects.
//
// A waiter sleeps on waitChanged() until the objects' state lets it through or its deadline passes; it never polls.
// The whole test-and-consume runs under waitLock(), so a wait for any object consumes exactly the object it
// reports, and a wait for all consumes all of them at once or none.
#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/thread_identity.h"
#include "kernel/time_scale.h"

#include <array>

namespace platform {
namespace {

using WaitList = std::array<std::shared_ptr<Waitable>, MAXIMUM_WAIT_OBJECTS>;

// Looks every handle up before the wait starts: a value that is not open fails the whole call.
bool collect(DWORD count, const HANDLE *handles, WaitList &objects) {
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = lookupHandleAs<Waitable>(handles[i]);
        if (!objects[i]) return false;
    }
    return true;
}

bool hasDuplicates(DWORD count, const WaitList &objects) {
    for (DWORD i = 0; i < count; ++i) {
        for (DWORD j = i + 1; j < count; ++j) {
            if (objects[i] == objects[j]) return true;
        }
    }
    return false;
}

// With waitLock() held: the lowest signalled index wins and only that object is consumed.
bool trySatisfyAny(DWORD count, const WaitList &objects, DWORD threadId, DWORD &result) {
    for (DWORD i = 0; i < count; ++i) {
        if (!objects[i]->isSignalled(threadId)) continue;
        bool abandoned = objects[i]->consume(threadId);
        result = (abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
        return true;
    }
    return false;
}

// With waitLock() held: all objects at once, or nothing changes.
bool trySatisfyAll(DWORD count, const WaitList &objects, DWORD threadId, DWORD &result) {
    for (DWORD i = 0; i < count; ++i) {
        if (!objects[i]->isSignalled(threadId)) return false;
    }
    result = WAIT_OBJECT_0;
    bool abandonedSeen = false;
    for (DWORD i = 0; i < count; ++i) {
        bool abandoned = objects[i]->consume(threadId);
        if (abandoned && !abandonedSeen) {
            result = WAIT_ABANDONED_0 + i;
            abandonedSeen = true;
        }
    }
    return true;
}

DWORD waitForObjects(DWORD count, const HANDLE *handles, bool waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    WaitList objects;
    if (!collect(count, handles, objects)) return WAIT_FAILED;
    if (waitAll && hasDuplicates(count, objects)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    DWORD threadId = currentThreadId();
    Clock::time_point deadline = deadlineAfter(milliseconds);

    std::unique_lock<std::mutex> lock(waitLock());
    for (;;) {
        DWORD result = WAIT_FAILED;
        bool satisfied = waitAll ? trySatisfyAll(count, objects, threadId, result)
                                 : trySatisfyAny(count, objects, threadId, result);
        if (satisfied) return result;
        if (milliseconds == 0 || Clock::now() >= deadline) return WAIT_TIMEOUT;
        if (deadline == Clock::time_point::max()) {
            waitChanged().wait(lock);
        } else {
            waitChanged().wait_until(lock, deadline);
        }
    }
}

}  // namespace
}  // namespace platform

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (platform::injectedFault("WaitForSingleObject")) return WAIT_FAILED;
    return platform::waitForObjects(1, &hHandle, false, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds) {
    if (platform::injectedFault("WaitForMultipleObjects")) return WAIT_FAILED;
    return platform::waitForObjects(nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds);
}
