#include "files/io_request.h"

#include "files/file_object.h"
#include "files/overlapped_record.h"
#include "files/requests_in_flight.h"

namespace platform {

IoRequest::IoRequest(std::shared_ptr<FileObject> file, IoKind kind, void *buffer, DWORD length, LPOVERLAPPED overlapped)
    : file_(std::move(file)),
      kind_(kind),
      buffer_(buffer),
      length_(length),
      overlapped_(overlapped),
      event_(overlapped != nullptr ? overlapped->hEvent : nullptr),
      threadId_(GetCurrentThreadId()) {}

bool IoRequest::markPending() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (cancelRequested_ || finished_) return false;
    pending_ = true;
    return true;
}

void IoRequest::complete(DWORD error, DWORD bytes) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (finished_) return;
        finished_ = true;
        error_ = error;
        bytes_ = bytes;
    }
    // Before the record shows the end: from then on the caller may reuse the record and the buffer.
    requestEnded(*this);
    if (overlapped_ != nullptr) finishOverlapped(overlapped_, event_, error, bytes);
    file_->requestFinished(*this);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
    }
    doneChanged_.notify_all();
}

bool IoRequest::isPending() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return pending_;
}

bool IoRequest::isFinished() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return finished_;
}

bool IoRequest::requestCancel() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (finished_) return false;
    cancelRequested_ = true;
    return pending_;
}

void IoRequest::wait() const {
    std::unique_lock<std::mutex> lock(mutex_);
    doneChanged_.wait(lock, [this] { return done_; });
}

bool IoRequest::waitUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return doneChanged_.wait_until(lock, deadline, [this] { return done_; });
}

DWORD IoRequest::error() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
}

DWORD IoRequest::bytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return bytes_;
}

}  // namespace platform
