// WaitForSingleObject and WaitForMultipleObjects.
//
// A waiter sleeps until the objects' state lets it through or its deadline passes; it never polls. Only a change of
// one of its own objects wakes it. The whole test-and-consume runs under waitLock(), so a wait for any object
// consumes exactly the object it reports, and a wait for all consumes all of them at once or none.
#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/misuse.h"
#include "kernel/thread_identity.h"
#include "kernel/time_scale.h"
#include "kernel/waiter.h"

#include <array>

namespace platform {
namespace {

using WaitList = std::array<std::shared_ptr<Waitable>, MAXIMUM_WAIT_OBJECTS>;

// Looks every handle up before the wait starts: a value that is not open fails the whole call. Windows fails it
// without a word, but the value was most likely closed by another thread, and once reused it names another object.
bool collect(const char *operation, DWORD count, const HANDLE *handles, WaitList &objects) {
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = lookupHandleAs<Waitable>(handles[i]);
        if (objects[i]) continue;
        reportMisuse(operation, "waits on a handle value that is not open", handles[i]);
        return false;
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

// One call's objects and how it waits for them.
struct WaitSet {
    DWORD count;
    WaitList objects;
    bool waitAll;
    DWORD threadId;
};

// With waitLock() held.
bool trySatisfy(const WaitSet &set, DWORD &result) {
    return set.waitAll ? trySatisfyAll(set.count, set.objects, set.threadId, result)
                       : trySatisfyAny(set.count, set.objects, set.threadId, result);
}

// Registers a waiter on every object of its wait for as long as it exists, so that only their changes wake it.
// Created and destroyed with waitLock() held.
class Registration {
public:
    Registration(const WaitSet &set, Waiter &waiter) : set_(set), waiter_(waiter) {
        for (DWORD i = 0; i < set_.count; ++i) set_.objects[i]->addWaiter(waiter_);
    }
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;
    ~Registration() {
        for (DWORD i = 0; i < set_.count; ++i) set_.objects[i]->removeWaiter(waiter_);
    }

private:
    const WaitSet &set_;
    Waiter &waiter_;
};

// `lock` holds waitLock() and the wait was not satisfied by the objects' current state. The waiter registers
// before the lock is first given up, so no change after that check can be missed.
DWORD sleepUntilSatisfied(std::unique_lock<std::mutex> &lock, const WaitSet &set, Clock::time_point deadline) {
    Waiter waiter;
    Registration registration(set, waiter);
    for (;;) {
        if (Clock::now() >= deadline) return WAIT_TIMEOUT;
        waiter.sleep(lock, deadline);
        DWORD result = WAIT_FAILED;
        if (trySatisfy(set, result)) return result;
    }
}

DWORD waitForObjects(const char *operation, DWORD count, const HANDLE *handles, bool waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    WaitSet set{count, {}, waitAll, currentThreadId()};
    if (!collect(operation, count, handles, set.objects)) return WAIT_FAILED;
    if (waitAll && hasDuplicates(count, set.objects)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Clock::time_point deadline = deadlineAfter(milliseconds);

    std::unique_lock<std::mutex> lock(waitLock());
    DWORD result = WAIT_FAILED;
    if (trySatisfy(set, result)) return result;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    return sleepUntilSatisfied(lock, set, deadline);
}

}  // namespace
}  // namespace platform

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (platform::injectedFault("WaitForSingleObject")) return WAIT_FAILED;
    return platform::waitForObjects("WaitForSingleObject", 1, &hHandle, false, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds) {
    if (platform::injectedFault("WaitForMultipleObjects")) return WAIT_FAILED;
    return platform::waitForObjects("WaitForMultipleObjects", nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds);
}
