// Device interface paths in Windows' own form, \\?\usb#vid_1fc9&pid_2016#<instance>#{<interface class>}, and the
// names CreateFileA takes for them. Every device backend names its devices so (the library's discovery expects
// it), and resolves a name to a device and a pipe the same way.
#pragma once

#include <windows.h>

#include <string>

#include "files/io_request.h"

namespace platform {

// The bare interface path reads and writes; PIPE00 only reads, PIPE01 only writes, as on Windows.
enum class Pipe { Device, Read, Write };

// "vid_1fc9&pid_2016", as Windows writes the identifiers.
std::string usbIdentifiers(int vid, int pid);
// The path from its parts, the identifiers as given (a backend may write them in another letter case).
std::string usbInterfacePath(const std::string &identifiers, const std::string &instance, const GUID &interfaceClass);

// Windows compares device names without regard to case.
bool equalsIgnoringCase(const std::string &a, const std::string &b);
// Windows accepts the \\.\ prefix for the same device names: the name with \\?\ in its place.
std::string canonicalName(const std::string &path);
// Whether `name` (canonical) opens a pipe of the interface at `interfacePath`, and which.
bool pipeOf(const std::string &name, const std::string &interfacePath, Pipe &pipe);
// ERROR_INVALID_FUNCTION for a read on PIPE01 or a write on PIPE00, as Windows' drivers answer; else
// ERROR_SUCCESS.
DWORD pipeRefusal(Pipe pipe, IoKind kind);

}  // namespace platform
