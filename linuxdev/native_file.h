// One handle's open file on a printer of the native transport: its pipe, and the serial time-outs the handle was
// given (each handle starts with the native driver's defaults).
#pragma once

#include <windows.h>

#include <memory>

#include "linuxdev/native_device.h"
#include "linuxdev/shared_device_file.h"

namespace linuxdev {

class NativeBackend;

class NativeFile : public SharedDeviceFile {
public:
    NativeFile(NativeBackend &backend, std::shared_ptr<NativeDevice> device, platform::Pipe pipe);

    // IOCTL_SERIAL_GET_TIMEOUTS and IOCTL_SERIAL_SET_TIMEOUTS, with the 20-byte SERIAL_TIMEOUTS record.
    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;
    void startIo(const std::shared_ptr<platform::IoRequest> &request) override;

private:
    // Clears the halt of every endpoint a transfer found stalled, as a careful libusb client does before it uses
    // the endpoint again: neither a later transfer nor reopening the device does.
    void clearHalts();
    void start(const std::shared_ptr<platform::IoRequest> &request, Completions &done) override;

    NativeBackend &backend_;
    const std::shared_ptr<NativeDevice> device_;
    COMMTIMEOUTS timeouts_;
};

}  // namespace linuxdev
