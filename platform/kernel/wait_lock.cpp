// The one lock and condition variable behind every waitable object's state.
#include "kernel/kernel_object.h"

namespace platform {

// Never destroyed: detached threads may still wait or signal while the process exits.
std::mutex &waitLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::condition_variable &waitChanged() {
    static auto *changed = new std::condition_variable;
    return *changed;
}

}  // namespace platform
