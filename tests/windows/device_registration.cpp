#include "device_registration.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace winetest {

namespace {

// The USB device setup class; Wine lists an interface only when its device carries a class GUID.
const char kUsbSetupClass[] = "{36FC9E60-C465-11CF-8056-444553540000}";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// "USB#VID_0DD4&PID_015D#<instance>#{guid}": the instance id with '\' turned to '#', then the interface class.
std::string interfaceName(const DeviceIdentity &identity) {
    std::string name = identity.instanceId();
    std::replace(name.begin(), name.end(), '\\', '#');
    return name + "#" + guidText(identity.interfaceClass);
}

bool createVolatileKey(const std::string &path, HKEY &key, std::string &error) {
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        error = "RegCreateKeyEx(HKLM\\" + path + ") failed with " + std::to_string(status);
        return false;
    }
    return true;
}

bool setText(const std::string &path, const char *name, const std::string &value, std::string &error) {
    HKEY key = nullptr;
    if (!createVolatileKey(path, key, error)) {
        return false;
    }
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = std::string("RegSetValueEx(") + name + ") failed with " + std::to_string(status);
        return false;
    }
    return true;
}

bool setNumber(const std::string &path, const char *name, DWORD value, std::string &error) {
    HKEY key = nullptr;
    if (!createVolatileKey(path, key, error)) {
        return false;
    }
    LONG status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = std::string("RegSetValueEx(") + name + ") failed with " + std::to_string(status);
        return false;
    }
    return true;
}

}  // namespace

std::string DeviceIdentity::instanceId() const { return "USB\\" + upper(vidPid) + "\\" + instance; }

std::string DeviceIdentity::devicePath() const {
    return "\\\\?\\" + lower(interfaceName(*this)) + "\\" + lower(reference);
}

std::string DeviceIdentity::objectName() const { return "\\??\\" + lower(interfaceName(*this)); }

std::string DeviceRegistration::enumKey() const { return "SYSTEM\\CurrentControlSet\\Enum\\" + identity_.instanceId(); }

std::string DeviceRegistration::interfaceKey() const {
    return "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guidText(identity_.interfaceClass) + "\\##?#" +
           interfaceName(identity_);
}

bool DeviceRegistration::add(std::string &error) {
    added_ = true;
    const std::string referenceKey = interfaceKey() + "\\#" + identity_.reference;
    return setText(enumKey(), "ClassGUID", kUsbSetupClass, error) &&
           setText(interfaceKey(), "DeviceInstance", identity_.instanceId(), error) &&
           setNumber(referenceKey + "\\Control", "Linked", 1, error);
}

void DeviceRegistration::remove() {
    if (!added_) {
        return;
    }
    added_ = false;
    // RegDeleteTree is documented to empty the key; the key itself then goes with RegDeleteKey, if still there.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, interfaceKey().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, interfaceKey().c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, enumKey().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, enumKey().c_str());
}

}  // namespace winetest
