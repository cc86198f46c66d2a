// The object-namespace half of a simulated device: a symbolic link from the device's interface name to Wine's
// named-pipe device, alive as long as its handle is held. The named-pipe device takes the rest of an opened path as
// the pipe name, so "<DevicePath>" opens the pipe "<ref>" and "<DevicePath>\PIPE00" the pipe "<ref>\PIPE00".
#pragma once

#include <windows.h>

#include <string>

namespace winetest {

class DeviceLink {
public:
    DeviceLink() = default;
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // `objectName` such as "\??\usb#vid_0dd4&pid_015d#x#{guid}".
    bool create(const std::string &objectName, std::string &error);
    void remove();

private:
    HANDLE link_ = nullptr;
};

}  // namespace winetest
