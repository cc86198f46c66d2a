#include "linuxdev/usblp_file.h"

#include "linuxdev/usblp_backend.h"

namespace linuxdev {

UsblpFile::UsblpFile(UsblpBackend &backend, std::shared_ptr<UsblpDevice> device, platform::Pipe pipe)
    : SharedDeviceFile(backend.mutex(), *device, pipe), backend_(backend), device_(std::move(device)) {}

void UsblpFile::start(const std::shared_ptr<platform::IoRequest> &request, Completions &done) {
    short before = device_->pollEvents();
    if (request->kind() == platform::IoKind::Read) {
        device_->startRead(request, identity(), done);
    } else {
        device_->startWrite(request, identity(), done);
    }
    // The I/O thread's poll must learn of a new kind of wait; an unchanged set needs no wake-up.
    if (device_->pollEvents() != before) backend_.wakeIoThread();
    if (device_->isGone()) backend_.forget(device_);
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
        std::unique_lock<std::mutex> lock(backend_.mutex());
        if (!beginClose(done)) return;
        lastOfAll = backend_.fileClosed(lock, device_);
    }
    done.run();
    if (lastOfAll) backend_.stopIoThread();
}

}  // namespace linuxdev
