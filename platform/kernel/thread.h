// Thread objects (CreateThread, _beginthreadex): the handle stays valid after the thread ends and becomes
// signalled then.
#pragma once

#include "kernel/kernel_object.h"

#include <condition_variable>

namespace platform {

class Thread : public Waitable {
public:
    Thread(DWORD threadId, DWORD suspendCount);

    DWORD id() const { return id_; }
    // The previous suspend count; the thread starts running when the count reaches 0.
    DWORD resume();
    // STILL_ACTIVE until the thread has ended.
    DWORD exitCode() const;
    // Whether the thread has started and is held until its resume.
    bool isHeldSuspended() const;

    // For the thread itself.
    void waitUntilResumed();
    void markEnded(DWORD exitCode);

    bool isSignalled(DWORD threadId) const override;
    bool consume(DWORD threadId) override;

private:
    const DWORD id_;
    // All guarded by waitLock().
    DWORD suspendCount_;
    std::condition_variable resumed_;
    bool heldSuspended_ = false;
    bool ended_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

// For tests: the next `count` threads started wait before their first run until releaseHeldThreads, whatever their
// suspend count, as a loaded machine may leave a new thread unscheduled for a long time.
void holdNextThreads(int count);
void releaseHeldThreads();
// How many threads wait there now.
size_t heldThreadCount();

// Starts a thread running start(parameter): its handle, or null with the last error set.
HANDLE startThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended, DWORD *threadId);
// For tests: whether the thread a handle names is held in its suspension (false for anything else).
bool isThreadHeldSuspended(HANDLE thread);

}  // namespace platform
