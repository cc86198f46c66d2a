// One ReadFile or WriteFile on a native pipe as libusb carries it: the bulk transfer, the driver's own buffer that
// libusb fills or sends (the caller's buffer is touched only when the request ends, so a request ended early by a
// cancel never has bytes land in it afterwards), and the read's progress under its time-outs.
#pragma once

#include <windows.h>

#include <libusb.h>

#include <chrono>
#include <memory>
#include <vector>

#include "files/io_request.h"
#include "linuxdev/serial_timeouts.h"

namespace linuxdev {

class NativeDevice;

struct NativeTransfer {
    NativeTransfer(NativeDevice &owner, std::shared_ptr<platform::IoRequest> ioRequest, const void *ownerFile)
        : device(owner),
          request(std::move(ioRequest)),
          file(ownerFile),
          usb(libusb_alloc_transfer(0)),
          bytes(request->length()),
          started(std::chrono::steady_clock::now()) {}
    ~NativeTransfer() { libusb_free_transfer(usb); }
    NativeTransfer(const NativeTransfer &) = delete;
    NativeTransfer &operator=(const NativeTransfer &) = delete;

    bool isRead() const { return request->kind() == platform::IoKind::Read; }
    DWORD elapsedMs() const {
        auto elapsed = std::chrono::steady_clock::now() - started;
        return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    }

    NativeDevice &device;
    const std::shared_ptr<platform::IoRequest> request;
    // The open file it came through.
    const void *const file;
    libusb_transfer *const usb;
    std::vector<unsigned char> bytes;
    ReadLimits limits;
    DWORD got = 0;
    const std::chrono::steady_clock::time_point started;
    // The request has been completed (cancel, purge, unplug, close): the transfer only has to come back from
    // libusb before it is freed.
    bool ended = false;
};

}  // namespace linuxdev
