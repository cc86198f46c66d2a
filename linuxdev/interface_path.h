// The name a USB printer interface has on Windows, which the library's discovery expects:
// \\?\usb#vid_1fc9&pid_2016#<instance>#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}.
#pragma once

#include <windows.h>

#include <string>

namespace linuxdev {

// GUID_DEVINTERFACE_USBPRINT, under which Windows' USB printer class driver registers its interfaces.
extern const GUID usbPrintInterfaceClass;

std::string usbPrintInterfacePath(int vid, int pid, const std::string &instance);
// The same form under another interface class, e.g. the native driver's.
std::string usbInterfacePath(const GUID &interfaceClass, int vid, int pid, const std::string &instance);
// The instance part: the serial number when the printer reports one, else its port path (1-1.2), which stays the
// same for the same port across replugs. Characters that would break the path's fields become '_'.
std::string instanceName(const std::string &serial, const std::string &portPath);
// Windows compares device names without regard to case.
bool equalsIgnoringCase(const std::string &a, const std::string &b);

// The bare interface path reads and writes; PIPE00 only reads, PIPE01 only writes, as on Windows.
enum class Pipe { Device, Read, Write };

// Windows accepts the \\.\ prefix for the same device names: the name with \\?\ in its place.
std::string canonicalName(const std::string &path);
// Whether `name` (canonical) opens a pipe of the interface at `interfacePath`, and which.
bool pipeOf(const std::string &name, const std::string &interfacePath, Pipe &pipe);

}  // namespace linuxdev
