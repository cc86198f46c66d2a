#include "kernel/waiter.h"

namespace platform {
namespace {

// Trivially destructible, so that waits made while the thread ends still count safely.
thread_local uint64_t wakeUpsHere = 0;

}  // namespace

// A Waiter lives on its thread's stack for one wait, and it is no longer registered anywhere when it goes.
Waiter::~Waiter() { wakeUpsHere += wakeUps_; }

void Waiter::sleep(std::unique_lock<std::mutex> &lock, Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) {
        wakeUp_.wait(lock);
        return;
    }
    wakeUp_.wait_until(lock, deadline);
}

void Waiter::wake() {
    ++wakeUps_;
    // Under waitLock(): once the lock is released the waiter may leave its wait and its wake-up with it.
    wakeUp_.notify_one();
}

uint64_t wakeUpsOfCurrentThread() { return wakeUpsHere; }

}  // namespace platform
