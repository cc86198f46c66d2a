// Mutex objects (CreateMutexA): owned by a thread, recursive, abandoned when the owner ends without releasing.
#pragma once

#include "kernel/kernel_object.h"

namespace platform {

class Mutex : public Waitable {
public:
    explicit Mutex(DWORD initialOwner);

    // False when the thread does not own the mutex.
    bool release(DWORD threadId);
    // Called with waitLock() held when a thread ends: frees the mutex if that thread owns it, and marks it so that
    // the next wait reports the abandonment.
    void abandonIfOwnedBy(DWORD threadId);

    bool isSignalled(DWORD threadId) const override;
    bool consume(DWORD threadId) override;

private:
    // All guarded by waitLock().
    DWORD owner_;  // 0: not owned
    DWORD recursion_;
    bool abandoned_ = false;
};

}  // namespace platform
