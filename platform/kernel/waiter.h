// One thread asleep in a wait, with a wake-up of its own.
//
// A waiting thread registers its Waiter on every object it waits on, and a change of an object's state wakes only
// the Waiters registered there. The woken thread then rechecks its whole wait under waitLock(), so that which
// object a wait reports and consumes is decided exactly as if every thread were woken by every change.
#pragma once

#include "kernel/time_scale.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class Waiter {
public:
    Waiter() = default;
    Waiter(const Waiter &) = delete;
    Waiter &operator=(const Waiter &) = delete;
    ~Waiter();

    // `lock` holds waitLock(). Returns when woken, at the deadline, or spuriously; the caller rechecks.
    void sleep(std::unique_lock<std::mutex> &lock, Clock::time_point deadline);
    // With waitLock() held.
    void wake();

private:
    std::condition_variable wakeUp_;
    uint64_t wakeUps_ = 0;  // guarded by waitLock()
};

// For tests: how many times a state change has woken the calling thread in its waits so far.
uint64_t wakeUpsOfCurrentThread();

}  // namespace platform
