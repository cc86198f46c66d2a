// The threads waiting on each waitable object.
#include "kernel/kernel_object.h"
#include "kernel/waiter.h"

#include <algorithm>

namespace platform {

void Waitable::addWaiter(Waiter &waiter) { waiters_.push_back(&waiter); }

void Waitable::removeWaiter(Waiter &waiter) {
    auto found = std::find(waiters_.begin(), waiters_.end(), &waiter);
    if (found == waiters_.end()) return;
    // Order does not matter: every registered thread is woken by a change.
    *found = waiters_.back();
    waiters_.pop_back();
}

size_t Waitable::waiterCount() const { return waiters_.size(); }

void Waitable::wakeWaiters() {
    for (Waiter *waiter : waiters_) waiter->wake();
}

size_t waitingThreadCount(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<Waitable>(lookupHandle(handle));
    if (!object) return 0;
    std::lock_guard<std::mutex> guard(waitLock());
    return object->waiterCount();
}

}  // namespace platform
