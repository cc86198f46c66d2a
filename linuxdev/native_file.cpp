#include "linuxdev/native_file.h"

#include <cstring>

#include <ntddser.h>

#include "linuxdev/native_backend.h"

namespace linuxdev {
namespace {

static_assert(sizeof(SERIAL_TIMEOUTS) == 20 && sizeof(COMMTIMEOUTS) == sizeof(SERIAL_TIMEOUTS),
              "the serial time-out record is five 32-bit members");

constexpr DWORD purgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

}  // namespace

NativeFile::NativeFile(NativeBackend &backend, std::shared_ptr<NativeDevice> device, platform::Pipe pipe)
    : SharedDeviceFile(backend.mutex(), *device, pipe),
      backend_(backend),
      device_(std::move(device)),
      timeouts_(nativeDefaultTimeouts()) {}

void NativeFile::startIo(const std::shared_ptr<platform::IoRequest> &request) {
    clearHalts();
    SharedDeviceFile::startIo(request);
}

void NativeFile::clearHalts() {
    std::vector<unsigned char> halted;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        if (refusal() != ERROR_SUCCESS) return;
        halted = device_->takeHaltedEndpoints();
    }
    // A synchronous control request: without the lock, which the events thread needs to complete transfers. A
    // clear that fails leaves the next transfer to fail as the stall did.
    for (unsigned char endpoint : halted) libusb_clear_halt(device_->handle(), endpoint);
}

void NativeFile::start(const std::shared_ptr<platform::IoRequest> &request, Completions &done) {
    device_->start(request, identity(), timeouts_, done);
    if (device_->isGone()) backend_.forget(device_);
}

DWORD NativeFile::control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) {
    std::lock_guard<std::mutex> guard(backend_.mutex());
    DWORD error = refusal();
    if (error != ERROR_SUCCESS) return error;
    switch (code) {
    case IOCTL_SERIAL_GET_TIMEOUTS:
        if (outSize < sizeof(SERIAL_TIMEOUTS)) return ERROR_INSUFFICIENT_BUFFER;
        if (out == nullptr) return ERROR_NOACCESS;
        std::memcpy(out, &timeouts_, sizeof(SERIAL_TIMEOUTS));
        bytesReturned = sizeof(SERIAL_TIMEOUTS);
        return ERROR_SUCCESS;
    case IOCTL_SERIAL_SET_TIMEOUTS:
        if (inSize < sizeof(SERIAL_TIMEOUTS)) return ERROR_INVALID_PARAMETER;
        if (in == nullptr) return ERROR_NOACCESS;
        std::memcpy(&timeouts_, in, sizeof(SERIAL_TIMEOUTS));
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

DWORD NativeFile::purge(DWORD flags) {
    Completions done;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        error = refusal();
        if (error == ERROR_SUCCESS && (flags == 0 || (flags & ~purgeFlags) != 0)) error = ERROR_INVALID_PARAMETER;
        if (error == ERROR_SUCCESS) {
            if ((flags & PURGE_RXABORT) != 0) device_->abortAll(platform::IoKind::Read, done);
            if ((flags & PURGE_TXABORT) != 0) device_->abortAll(platform::IoKind::Write, done);
            if ((flags & PURGE_RXCLEAR) != 0) device_->clearReceived();
            // PURGE_TXCLEAR: a write is one transfer, sent or aborted; no output waits in the driver.
        }
    }
    done.run();
    return error;
}

void NativeFile::close() {
    Completions done;
    bool last = false;
    {
        std::lock_guard<std::mutex> guard(backend_.mutex());
        if (!beginClose(done)) return;
        device_->fileClosed();
        // Decided under the lock, so that of two closes racing only one releases, and no open shares it meanwhile.
        last = device_->openFiles() == 0;
        if (last) backend_.beginRelease(device_);
    }
    done.run();
    if (last) backend_.release(device_);
}

}  // namespace linuxdev
