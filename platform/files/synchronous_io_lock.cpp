#include "files/synchronous_io_lock.h"

namespace platform {

void SynchronousIoLock::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    released_.wait(lock, [this] { return !held_; });
    --waiting_;
    held_ = true;
}

void SynchronousIoLock::release() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        held_ = false;
    }
    released_.notify_one();
}

size_t SynchronousIoLock::waitingCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waiting_;
}

SynchronousIoScope::SynchronousIoScope(SynchronousIoLock &lock, bool synchronous)
    : lock_(synchronous ? &lock : nullptr) {
    if (lock_ != nullptr) lock_->acquire();
}

SynchronousIoScope::~SynchronousIoScope() {
    if (lock_ != nullptr) lock_->release();
}

}  // namespace platform
