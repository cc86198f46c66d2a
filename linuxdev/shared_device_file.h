// What the files of both real backends have in common. Each printer is one device shared by every file of the
// process on it (usblp's one descriptor, libusb's one handle); a file adds the pipe it was opened on, refuses
// everything with ERROR_ACCESS_DENIED once its printer went (as Windows does, until the handle is closed), cancels
// its requests under the backend's lock, completes them after it is released, and at its close ends what it still has
// pending with ERROR_OPERATION_ABORTED.
#pragma once

#include <windows.h>

#include <mutex>

#include "files/device_file.h"
#include "files/interface_path.h"
#include "linuxdev/completions.h"

namespace linuxdev {

// The device side of those rules. Called with the backend's lock held.
class SharedDevice {
public:
    virtual ~SharedDevice() = default;
    virtual bool isGone() const = 0;
    // Ends the request with ERROR_OPERATION_ABORTED if it still waits here.
    virtual void cancel(const platform::IoRequest &request, Completions &done) = 0;
    // Ends every request of that file with `error`.
    virtual void endRequestsOf(const void *file, DWORD error, Completions &done) = 0;
};

class SharedDeviceFile : public platform::DeviceFile {
public:
    // Refuses the request or hands it to start().
    void startIo(const std::shared_ptr<platform::IoRequest> &request) override;
    void cancel(platform::IoRequest &request) override;

protected:
    // `lock` is the backend's, which guards `device`.
    SharedDeviceFile(std::mutex &lock, SharedDevice &device, platform::Pipe pipe);

    // With the lock held: a request this file may make, started on the device.
    virtual void start(const std::shared_ptr<platform::IoRequest> &request, Completions &done) = 0;
    // With the lock held: why a request on this file must fail, or ERROR_SUCCESS.
    DWORD refusal() const;
    DWORD refusal(platform::IoKind kind) const;
    // With the lock held, at the start of close(): false when the file was closed already; else the cleanup, in
    // which whatever the cancels before it did not end, ends now.
    bool beginClose(Completions &done);
    // The name the device knows the file's requests by.
    const void *identity() const { return this; }

private:
    std::mutex &lock_;
    SharedDevice &device_;
    const platform::Pipe pipe_;
    bool closed_ = false;
};

}  // namespace linuxdev
