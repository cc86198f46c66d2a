// The lock Windows takes on a file object opened without FILE_FLAG_OVERLAPPED: one request at a time on it.
// ReadFile, WriteFile, DeviceIoControl and PurgeComm on such a handle wait here while another thread's request
// runs, and so does the close of its last handle (file_object.cpp). CancelIoEx and CancelSynchronousIo do not, so
// they can still ask the driver to end a request that blocks.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace platform {

class SynchronousIoLock {
public:
    void acquire();
    void release();
    // For tests: how many threads wait for the lock.
    size_t waitingCount() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    size_t waiting_ = 0;
};

// Holds a file's lock for one request when the file is synchronous; does nothing for an overlapped one.
class SynchronousIoScope {
public:
    SynchronousIoScope(SynchronousIoLock &lock, bool synchronous);
    SynchronousIoScope(const SynchronousIoScope &) = delete;
    SynchronousIoScope &operator=(const SynchronousIoScope &) = delete;
    ~SynchronousIoScope();

private:
    SynchronousIoLock *const lock_;
};

}  // namespace platform
