// One handle's open file on a usblp printer: the driver side of CreateFileA on its interface path.
#pragma once

#include <windows.h>

#include <memory>

#include "files/device_file.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/usblp_device.h"

namespace linuxdev {

class UsblpBackend;

class UsblpFile : public platform::DeviceFile {
public:
    UsblpFile(UsblpBackend &backend, std::shared_ptr<UsblpDevice> device, platform::Pipe pipe);

    void startIo(const std::shared_ptr<platform::IoRequest> &request) override;
    void cancel(platform::IoRequest &request) override;
    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;

private:
    // With the backend's lock held: why a request on this file must fail, or ERROR_SUCCESS.
    DWORD refusal() const;
    DWORD refusal(platform::IoKind kind) const;

    UsblpBackend &backend_;
    const std::shared_ptr<UsblpDevice> device_;
    const platform::Pipe pipe_;
    bool closed_ = false;
};

}  // namespace linuxdev
