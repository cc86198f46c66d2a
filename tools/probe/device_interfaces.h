// The device interfaces a class of devices presents, as SetupAPI lists them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

struct InterfaceList {
    std::vector<std::string> paths;
    // 0 when the list is complete; otherwise the last error of the SetupAPI call that failed.
    DWORD error = 0;
};

// The interface paths of the present devices of one interface class, in enumeration order.
InterfaceList listInterfaces(const GUID &interfaceClass);

// The supported-device entry found in the path, matched as the library matches it, or null.
const char *supportedEntry(const std::string &path);

// The supported identifier pairs, each once in lower case ("vid_0dd4&pid_015d"), in the table's order: the table
// carries each pair in the letter cases its devices use.
std::vector<std::string> supportedPairs();

}  // namespace probe
