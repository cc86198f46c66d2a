// A simulated USB device as Wine's SetupAPI sees it: volatile registry keys for the device instance and for one
// device interface with its reference string. Deleting the keys (or clearing Linked) unplugs the interface.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "tools/guid_text.h"

namespace winetest {

struct DeviceIdentity {
    std::string vidPid;    // as in the interface path, "vid_0dd4&pid_015d"
    std::string instance;  // the instance part of the device instance id
    GUID interfaceClass{};
    std::string reference;  // the interface's reference string

    // "USB\VID_0DD4&PID_015D\<instance>"
    std::string instanceId() const;
    // The DevicePath that Wine reports for the interface: always lower case and ending in the reference string.
    std::string devicePath() const;
    // The object name that the DevicePath (without reference string) resolves through: "\??\usb#...#{guid}".
    std::string objectName() const;
};

class DeviceRegistration {
public:
    explicit DeviceRegistration(DeviceIdentity identity) : identity_(std::move(identity)) {}
    ~DeviceRegistration() { remove(); }
    DeviceRegistration(const DeviceRegistration &) = delete;
    DeviceRegistration &operator=(const DeviceRegistration &) = delete;

    bool add(std::string &error);
    void remove();

private:
    std::string enumKey() const;
    std::string interfaceKey() const;

    DeviceIdentity identity_;
    bool added_ = false;
};

}  // namespace winetest
