// The name a USB printer interface has on Windows, which the library's discovery expects:
// \\?\usb#vid_1fc9&pid_2016#<instance>#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// What names one present printer's interface.
struct PrinterInstance {
    int vid = 0;
    int pid = 0;
    std::string serial;
    std::string portPath;
};
// The instance part for each of the printers present together: instanceName(serial, port path), except where
// printers share identifiers and serial number (two of one model that report the same serial, as some models do):
// those would share a path and only one could ever be opened, so each gets its port path after the serial. A
// printer with a serial of its own keeps its path.
std::vector<std::string> instanceNames(const std::vector<PrinterInstance> &printers);

}  // namespace linuxdev
