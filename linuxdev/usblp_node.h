// The usblp device nodes present now, as udev lists them (subsystem usbmisc, lp*), each with the Windows-form
// interface path the library will look for.
#pragma once

#include <string>
#include <vector>

namespace linuxdev {

struct UsblpNode {
    std::string devnode;           // /dev/usb/lp0
    std::string syspath;           // the usbmisc device's sysfs path
    std::string usbDeviceSyspath;  // its parent usb_device's
    int vid = 0;
    int pid = 0;
    std::string interfacePath;
};

// Empty when udev is unavailable.
std::vector<UsblpNode> listUsblpNodes();

}  // namespace linuxdev
