// The kernel object behind a file handle: an open device file and the requests in flight on it.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "files/device_file.h"
#include "files/io_request.h"
#include "files/synchronous_io_lock.h"
#include "kernel/kernel_object.h"

namespace platform {

class FileObject : public Waitable {
public:
    FileObject(std::shared_ptr<DeviceFile> device, bool overlapped);

    bool isOverlapped() const { return overlapped_; }
    DeviceFile &device() { return *device_; }
    // Serialises the requests on a file opened without FILE_FLAG_OVERLAPPED; unused on an overlapped one.
    SynchronousIoLock &synchronousIoLock() { return synchronousIoLock_; }

    // Adds a request about to start; false once the file is closed. Like Windows, a starting request makes the
    // file object non-signalled until a request completes.
    bool track(const std::shared_ptr<IoRequest> &request);
    // Called by the request when it completes.
    void requestFinished(const IoRequest &request);
    std::vector<std::shared_ptr<IoRequest>> inFlight() const;
    // The unfinished request that uses this OVERLAPPED record, or null.
    std::shared_ptr<IoRequest> findInFlight(LPOVERLAPPED overlapped) const;
    // True when the request was still unfinished (the driver then ends it with ERROR_OPERATION_ABORTED).
    bool cancel(IoRequest &request);

    bool isSignalled(DWORD threadId) const override;
    bool consume(DWORD threadId) override;
    void onLastHandleClosed() override;

private:
    const std::shared_ptr<DeviceFile> device_;
    const bool overlapped_;
    SynchronousIoLock synchronousIoLock_;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<IoRequest>> inFlight_;
    bool closed_ = false;
    // Guarded by waitLock().
    bool signalled_ = false;
};

// For tests: how many threads wait for their turn on the synchronous file a handle names (0 for anything else).
size_t threadsWaitingForSynchronousIo(HANDLE file);
// For tests: the requests started on the file a handle names that have not completed (0 for anything else).
size_t requestsInFlight(HANDLE file);

// For tests: how many CloseHandle calls still wait to own their file object (a synchronous call holds it).
size_t closesWaitingForTheirFile();

}  // namespace platform
