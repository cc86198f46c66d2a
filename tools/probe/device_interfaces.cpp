#include "tools/probe/device_interfaces.h"

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "discovery/SupportedDevices.h"

namespace probe {
namespace {

// The path of one interface; false, with the error, when its detail record is not obtained.
bool interfacePath(HDEVINFO devices, SP_DEVICE_INTERFACE_DATA *interfaceData, std::string &path, DWORD &error) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(devices, interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        error = GetLastError();
        return false;
    }
    std::vector<char> block(required);
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(block.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(devices, interfaceData, detail, required, nullptr, nullptr)) {
        error = GetLastError();
        return false;
    }
    path = detail->DevicePath;
    return true;
}

}  // namespace

InterfaceList listInterfaces(const GUID &interfaceClass) {
    InterfaceList list;
    HDEVINFO devices = SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) {
        list.error = GetLastError();
        return list;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    for (DWORD index = 0;; ++index) {
        if (!SetupDiEnumDeviceInterfaces(devices, nullptr, &interfaceClass, index, &interfaceData)) {
            DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS) list.error = error;
            break;
        }
        std::string path;
        if (interfacePath(devices, &interfaceData, path, list.error)) list.paths.push_back(path);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return list;
}

const char *supportedEntry(const std::string &path) {
    for (int i = 0; g_pszSupportedDevices[i] != nullptr; ++i) {
        if (path.find(g_pszSupportedDevices[i]) != std::string::npos) return g_pszSupportedDevices[i];
    }
    return nullptr;
}

std::vector<std::string> supportedPairs() {
    std::vector<std::string> pairs;
    for (int i = 0; g_pszSupportedDevices[i] != nullptr; ++i) {
        std::string pair = g_pszSupportedDevices[i];
        for (char &c : pair) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end()) pairs.push_back(pair);
    }
    return pairs;
}

}  // namespace probe
