#include "files/file_object.h"

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

// Closes of a last handle that have not yet owned their file object.
std::atomic<size_t> closesWaiting{0};

}  // namespace

FileObject::FileObject(std::shared_ptr<DeviceFile> device, bool overlapped)
    : device_(std::move(device)), overlapped_(overlapped) {}

bool FileObject::track(const std::shared_ptr<IoRequest> &request) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (closed_) return false;
        inFlight_.push_back(request);
    }
    std::lock_guard<std::mutex> guard(waitLock());
    signalled_ = false;
    return true;
}

void FileObject::requestFinished(const IoRequest &request) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = std::find_if(inFlight_.begin(), inFlight_.end(),
                                  [&request](const auto &entry) { return entry.get() == &request; });
        if (found != inFlight_.end()) inFlight_.erase(found);
    }
    std::lock_guard<std::mutex> guard(waitLock());
    if (signalled_) return;
    signalled_ = true;
    wakeWaiters();
}

std::vector<std::shared_ptr<IoRequest>> FileObject::inFlight() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return inFlight_;
}

std::shared_ptr<IoRequest> FileObject::findInFlight(LPOVERLAPPED overlapped) const {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto &request : inFlight_) {
        if (request->overlapped() == overlapped) return request;
    }
    return nullptr;
}

bool FileObject::cancel(IoRequest &request) {
    if (request.isFinished()) return false;
    if (request.requestCancel()) device_->cancel(request);
    return true;
}

bool FileObject::isSignalled(DWORD) const { return signalled_; }

bool FileObject::consume(DWORD) { return false; }

void FileObject::onLastHandleClosed() {
    // A call on a synchronous file object owns the object while it runs, and the close of its last handle first
    // waits to own it too (IopCloseFile in the Windows Research Kernel: "there may still be a thread using it"). Only
    // then does the driver get the cleanup that ends pending requests: CloseHandle returns when the blocked call has
    // returned, and never while a driver that ignores cancellation keeps it. An overlapped file object is owned by
    // no call, and its close proceeds at once.
    closesWaiting.fetch_add(1);
    SynchronousIoScope owner(synchronousIoLock_, !overlapped_);
    closesWaiting.fetch_sub(1);
    std::vector<std::shared_ptr<IoRequest>> requests;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        closed_ = true;
        requests = inFlight_;
    }
    // As a driver does when the last handle goes: every request still in flight ends, as cancelled.
    for (const auto &request : requests) cancel(*request);
    device_->close();
}

size_t closesWaitingForTheirFile() { return closesWaiting.load(); }

size_t threadsWaitingForSynchronousIo(HANDLE file) {
    auto object = std::dynamic_pointer_cast<FileObject>(lookupHandle(file));
    if (!object || object->isOverlapped()) return 0;
    return object->synchronousIoLock().waitingCount();
}

size_t requestsInFlight(HANDLE file) {
    auto object = std::dynamic_pointer_cast<FileObject>(lookupHandle(file));
    return object ? object->inFlight().size() : 0;
}

}  // namespace platform
