#include "files/file_object.h"

#include <algorithm>

namespace platform {

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
