// One read or write in flight on a file: what the file layer hands a device driver, like an IRP on Windows. Every
// member is safe to call from any thread; complete() must not be called with a driver's lock held (device_file.h).
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {

class FileObject;

enum class IoKind { Read, Write };

class IoRequest {
public:
    IoRequest(std::shared_ptr<FileObject> file, IoKind kind, void *buffer, DWORD length, LPOVERLAPPED overlapped);

    IoKind kind() const { return kind_; }
    // The caller's own buffer. A read fills it and a write takes from it when the driver completes the request,
    // not before, as on Windows.
    void *buffer() const { return buffer_; }
    DWORD length() const { return length_; }
    LPOVERLAPPED overlapped() const { return overlapped_; }
    DWORD threadId() const { return threadId_; }
    // The file the request was issued on; it stays alive as long as the request.
    const std::shared_ptr<FileObject> &file() const { return file_; }

    // Driver side. A driver either completes a request before its dispatch returns or marks it pending; a pending
    // request is then owed a completion, and the driver must accept a cancel of it (DeviceFile::cancel).
    // markPending fails when a cancel came first: the driver then completes the request itself.
    bool markPending();
    // Ends the request: fills the OVERLAPPED record, sets its event and wakes a synchronous caller. Only the
    // first call counts.
    void complete(DWORD error, DWORD bytes);

    // File side.
    bool isPending() const;
    bool isFinished() const;
    // Records a cancel. True when the driver must now be asked to end the request; false when it has already
    // ended, or is not pending yet (markPending will then fail).
    bool requestCancel();
    // Until complete() has done all its work.
    void wait() const;
    // The same, at most until the deadline; false when the request had not ended by then.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) const;
    DWORD error() const;
    DWORD bytes() const;

private:
    std::shared_ptr<FileObject> file_;
    const IoKind kind_;
    void *const buffer_;
    const DWORD length_;
    const LPOVERLAPPED overlapped_;
    // Captured when the request starts: the system signals the event named then.
    const HANDLE event_;
    const DWORD threadId_;

    mutable std::mutex mutex_;
    mutable std::condition_variable doneChanged_;
    bool pending_ = false;
    bool cancelRequested_ = false;
    bool finished_ = false;
    bool done_ = false;
    DWORD error_ = ERROR_SUCCESS;
    DWORD bytes_ = 0;
};

}  // namespace platform
