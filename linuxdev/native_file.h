// One handle's open file on a printer of the native transport: its pipe, and the serial time-outs the handle was
// given (each handle starts with the native driver's defaults).
#pragma once

#include <windows.h>

#include <memory>

#include "files/device_file.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/native_device.h"

namespace linuxdev {

class NativeBackend;

class NativeFile : public platform::DeviceFile {
public:
    NativeFile(NativeBackend &backend, std::shared_ptr<NativeDevice> device, platform::Pipe pipe);

    void startIo(const std::shared_ptr<platform::IoRequest> &request) override;
    void cancel(platform::IoRequest &request) override;
    // IOCTL_SERIAL_GET_TIMEOUTS and IOCTL_SERIAL_SET_TIMEOUTS, with the 20-byte SERIAL_TIMEOUTS record.
    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;

private:
    // With the backend's lock held: why a request on this file must fail, or ERROR_SUCCESS.
    DWORD refusal() const;
    DWORD refusal(platform::IoKind kind) const;

    NativeBackend &backend_;
    const std::shared_ptr<NativeDevice> device_;
    const platform::Pipe pipe_;
    COMMTIMEOUTS timeouts_;
    bool closed_ = false;
};

}  // namespace linuxdev
