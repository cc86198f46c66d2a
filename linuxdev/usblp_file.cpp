#include "linuxdev/usblp_file.h"

#include "linuxdev/usblp_backend.h"

namespace linuxdev {

UsblpFile::UsblpFile(UsblpBackend &backend, std::shared_ptr<UsblpDevice> device, platform::Pipe pipe)
    : backend_(backend), device_(std::move(device)), pipe_(pipe) {}

void UsblpFile::startIo(const std::shared_ptr<platform::IoRequest> &request) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        DWORD error = refusal(request->kind());
        if (error != ERROR_SUCCESS) {
            done.add(request, error, 0);
        } else {
            short before = device_->pollEvents();
            if (request->kind() == platform::IoKind::Read) {
                device_->startRead(request, this, done);
            } else {
                device_->startWrite(request, this, done);
            }
            // The I/O thread's poll must learn of a new kind of wait; an unchanged set needs no wake-up.
            if (device_->pollEvents() != before) backend_.wakeIoThread();
            if (device_->isGone()) backend_.forget(device_);
        }
    }
    done.run();
}

void UsblpFile::cancel(platform::IoRequest &request) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        device_->cancel(request, done);
    }
    done.run();
}

DWORD UsblpFile::control(DWORD, const void *, DWORD, void *, DWORD, DWORD &) {
    std::lock_guard<std::mutex> guard(backend_.mutex());
    DWORD error = refusal();
    // The USB printer class driver answers no serial requests.
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

DWORD UsblpFile::purge(DWORD) {
    std::lock_guard<std::mutex> guard(backend_.mutex());
    DWORD error = refusal();
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

void UsblpFile::close() {
    Completions done;
    bool lastOfAll = false;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        if (closed_) return;
        closed_ = true;
        // The cleanup: whatever the cancels before it did not end, ends now.
        device_->endRequestsOf(this, ERROR_OPERATION_ABORTED, done);
        lastOfAll = backend_.fileClosed(device_);
    }
    done.run();
    if (lastOfAll) backend_.stopIoThread();
}

DWORD UsblpFile::refusal() const {
    // Windows fails every call on a handle whose device has gone, until the handle is closed.
    return device_->isGone() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD UsblpFile::refusal(platform::IoKind kind) const {
    DWORD error = refusal();
    if (error != ERROR_SUCCESS) return error;
    if (kind == platform::IoKind::Read && pipe_ == platform::Pipe::Write) return ERROR_INVALID_FUNCTION;
    if (kind == platform::IoKind::Write && pipe_ == platform::Pipe::Read) return ERROR_INVALID_FUNCTION;
    return ERROR_SUCCESS;
}

}  // namespace linuxdev
