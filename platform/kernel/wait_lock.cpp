// The one lock behind every waitable object's state.
#include "kernel/kernel_object.h"

namespace platform {

// Never destroyed: detached threads may still wait or signal while the process exits.
std::mutex &waitLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

}  // namespace platform
