// The devices that CreateFileA can open and SetupAPI can enumerate. The layer has no devices of its own: a bus
// (the simulated USB bus) installs itself here.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "files/device_file.h"

namespace platform {

struct DeviceInterface {
    GUID interfaceClass;
    std::string path;
    bool present;
};

class DeviceNamespace {
public:
    virtual ~DeviceNamespace() = default;
    // Opens a device path; on failure null, with the error code in `error`.
    virtual std::shared_ptr<DeviceFile> open(const std::string &path, DWORD flagsAndAttributes, DWORD &error) = 0;
    // The registered device interfaces, in the order of their arrival; `interfaceClass` null means every class.
    virtual std::vector<DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) = 0;
};

void installDeviceNamespace(std::shared_ptr<DeviceNamespace> devices);
// Null while no bus is installed.
std::shared_ptr<DeviceNamespace> deviceNamespace();

}  // namespace platform
