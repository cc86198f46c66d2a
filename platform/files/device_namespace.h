// The devices that CreateFileA can open and SetupAPI can enumerate: the upper half of the contract between the
// platform layer and a device backend (docs/device-backends.md). The layer has no devices of its own. Exactly one
// backend is installed per process: the usblp backend (linuxdev/) as the real library is loaded, before any export
// can run; the simulated bus (sim/) at the first use of its control API. Both follow the rules written here and in
// device_file.h and io_request.h.
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
    // Opens a device path (an interface path, bare or with \PIPE00 or \PIPE01; \\.\ stands for \\?\, and case does
    // not matter); on failure null, with the error code in `error`.
    // Thread: the caller of CreateFileA, any thread (the library's detection, its reader thread while it
    // reconnects, Java's threads). Locks: none of the layer's. May block on: the backend's own lock and a listing of
    // the devices, never on a device's I/O. Each call gives a new file, even where the backend shares one device
    // underneath. Errors: ERROR_FILE_NOT_FOUND for no such device (also while it is unplugged);
    // ERROR_ACCESS_DENIED for a device that is present but cannot be opened (in use elsewhere, no permission).
    virtual std::shared_ptr<DeviceFile> open(const std::string &path, DWORD flagsAndAttributes, DWORD &error) = 0;
    // The device interfaces, in the order of their arrival; `interfaceClass` null means every class. A device that
    // went is absent from a `presentOnly` listing at once; when it is back it has the same path as before.
    // Thread: the caller of SetupDiGetClassDevsA. Locks: none. May block on: the backend's lock and a listing.
    virtual std::vector<DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) = 0;
};

// Called by the backend itself (see above), never by the library. Files already open keep the backend that opened
// them.
void installDeviceNamespace(std::shared_ptr<DeviceNamespace> devices);
// Null while no bus is installed.
std::shared_ptr<DeviceNamespace> deviceNamespace();

}  // namespace platform
