// One handle's open file on a usblp printer: the driver side of CreateFileA on its interface path.
#pragma once

#include <windows.h>

#include <memory>

#include "linuxdev/shared_device_file.h"
#include "linuxdev/usblp_device.h"

namespace linuxdev {

class UsblpBackend;

class UsblpFile : public SharedDeviceFile {
public:
    UsblpFile(UsblpBackend &backend, std::shared_ptr<UsblpDevice> device, platform::Pipe pipe);

    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;

private:
    void start(const std::shared_ptr<platform::IoRequest> &request, Completions &done) override;

    UsblpBackend &backend_;
    const std::shared_ptr<UsblpDevice> device_;
};

}  // namespace linuxdev
