// A driver for the file layer's own tests that holds every request until the test ends it: one that ignores
// cancellation, as Windows allows a driver to do.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/device_namespace.h"
#include "files/io_request.h"

namespace late_driver {

// Holds every request pending; a cancel is only noted, and the test ends the request when it chooses.
class LateDriver : public platform::DeviceFile {
public:
    void startIo(const std::shared_ptr<platform::IoRequest> &request) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (request->markPending()) pending_ = request;
    }
    void cancel(platform::IoRequest &) override {
        std::lock_guard<std::mutex> guard(lock_);
        ++cancels_;
    }
    DWORD control(DWORD, const void *, DWORD, void *, DWORD, DWORD &) override { return ERROR_INVALID_FUNCTION; }
    DWORD purge(DWORD) override { return ERROR_INVALID_FUNCTION; }
    // A driver that ignores cancels may still end what is pending at the cleanup of its file.
    void close() override {
        if (endsPendingAtCleanup_) finishPending(ERROR_OPERATION_ABORTED);
    }
    void endPendingAtCleanup() { endsPendingAtCleanup_ = true; }

    bool hasPending() {
        std::lock_guard<std::mutex> guard(lock_);
        return pending_ != nullptr;
    }
    int cancels() {
        std::lock_guard<std::mutex> guard(lock_);
        return cancels_;
    }
    void finishPending(DWORD error) {
        std::shared_ptr<platform::IoRequest> request;
        {
            std::lock_guard<std::mutex> guard(lock_);
            request.swap(pending_);
        }
        if (request) request->complete(error, 0);
    }

private:
    std::mutex lock_;
    std::shared_ptr<platform::IoRequest> pending_;
    int cancels_ = 0;
    std::atomic<bool> endsPendingAtCleanup_{false};
};

class LateDevice : public platform::DeviceNamespace {
public:
    explicit LateDevice(std::shared_ptr<LateDriver> driver) : driver_(std::move(driver)) {}
    std::shared_ptr<platform::DeviceFile> open(const std::string &, DWORD, DWORD &) override { return driver_; }
    std::vector<platform::DeviceInterface> interfaces(const GUID *, bool) override { return {}; }

private:
    std::shared_ptr<LateDriver> driver_;
};

}  // namespace late_driver
