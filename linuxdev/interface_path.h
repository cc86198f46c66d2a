// The name a USB printer interface has on Windows, which the library's discovery expects:
// \\?\usb#vid_1fc9&pid_2016#<instance>#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}.
#pragma once

#include <windows.h>

#include <string>

#include "files/interface_path.h"

namespace linuxdev {

// GUID_DEVINTERFACE_USBPRINT, under which Windows' USB printer class driver registers its interfaces.
extern const GUID usbPrintInterfaceClass;

std::string usbPrintInterfacePath(int vid, int pid, const std::string &instance);
// The same form under another interface class, e.g. the native driver's.
std::string usbInterfacePath(const GUID &interfaceClass, int vid, int pid, const std::string &instance);
// The instance part: the serial number when the printer reports one, else its port path (1-1.2), which stays the
// same for the same port across replugs. Characters that would break the path's fields become '_'.
std::string instanceName(const std::string &serial, const std::string &portPath);

}  // namespace linuxdev
