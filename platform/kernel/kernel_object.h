// Kernel objects and the handle table of the platform layer.
//
// Every handle the layer gives out names a reference-counted KernelObject. Handle values behave as on Windows:
// multiples of 4, never 0 and never INVALID_HANDLE_VALUE, and the value of a handle just closed is the next one
// given out, so a stale handle value reaches a different object exactly as it would on Windows. A close while
// another thread waits on or uses the object is safe: that thread holds its own reference.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called once when the last handle to the object is closed (references held by waiting threads may remain).
    virtual void onLastHandleClosed() {}
};

// All waitable state (events, mutexes, threads, anything a wait can name) is guarded by this one lock. One lock
// keeps WaitForMultipleObjects exact (the lowest signalled index wins and only that object is consumed) without
// lock-ordering problems.
std::mutex &waitLock();

class Waiter;

class Waitable : public KernelObject {
public:
    // Both run with waitLock() held.
    virtual bool isSignalled(DWORD threadId) const = 0;
    // Applies the side effect of a satisfied wait: an auto-reset event resets, a mutex is acquired.
    // Returns true when the wait should report WAIT_ABANDONED_0 + index instead of WAIT_OBJECT_0 + index.
    virtual bool consume(DWORD threadId) = 0;

    // With waitLock() held. A thread that sleeps in a wait naming this object registers here for the length of
    // the wait (once per time the wait names the object), so that only such threads are woken when it changes.
    void addWaiter(Waiter &waiter);
    void removeWaiter(Waiter &waiter);
    size_t waiterCount() const;

protected:
    // With waitLock() held, after a change that may satisfy a wait: wakes the threads waiting on this object.
    void wakeWaiters();

private:
    std::vector<Waiter *> waiters_;  // guarded by waitLock()
};

// Puts an object into the handle table and returns its new handle value.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
// The object a handle names, or null (the last error is then ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
// The object a handle names if it is of type T, or null with ERROR_INVALID_HANDLE.
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(lookupHandle(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}
// Removes a handle; false (with ERROR_INVALID_HANDLE) when the value is not open.
bool removeHandle(HANDLE handle);
// Number of open handles, for leak checks in tests.
size_t openHandleCount();
// How many times a value was given out that had been closed before, for the stress suite's report.
size_t handleReuseCount();
// For tests: how many waits are asleep on the object a handle names (0 when the handle is not open).
size_t waitingThreadCount(HANDLE handle);

}  // namespace platform
