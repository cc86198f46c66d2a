// SetupAPI's device interface enumeration over the installed device namespace.
#include <cstddef>
#include <cstring>

#include "kernel/faults.h"
#include "setupapi/device_info_set.h"

namespace platform {
namespace {

constexpr DWORD interfaceActive = 0x00000001;  // SPINT_ACTIVE
constexpr DWORD detailFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

bool sameGuid(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The set's entry that an SP_DEVICE_INTERFACE_DATA record from SetupDiEnumDeviceInterfaces names, or null.
const DeviceInterface *namedInterface(const DeviceInfoSet &set, const SP_DEVICE_INTERFACE_DATA &data) {
    if (data.Reserved == 0 || data.Reserved > set.interfaces.size()) return nullptr;
    const DeviceInterface &entry = set.interfaces[data.Reserved - 1];
    if (!sameGuid(entry.interfaceClass, data.InterfaceClassGuid)) return nullptr;
    return &entry;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace
}  // namespace platform

using platform::fail;

extern "C" HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
    if (platform::injectedFault("SetupDiGetClassDevsA")) return INVALID_HANDLE_VALUE;
    bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
    if (ClassGuid == nullptr && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<platform::DeviceInfoSet>();
    auto devices = platform::deviceNamespace();
    // Without DIGCF_DEVICEINTERFACE the GUID names a device setup class; the namespace holds interfaces only.
    if (devices && (Flags & DIGCF_DEVICEINTERFACE) != 0) {
        set->interfaces = devices->interfaces(allClasses ? nullptr : ClassGuid, (Flags & DIGCF_PRESENT) != 0);
    }
    return platform::insertDeviceInfoSet(std::move(set));
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                   const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                                   PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    if (platform::injectedFault("SetupDiEnumDeviceInterfaces")) return FALSE;
    auto set = platform::lookupDeviceInfoSet(DeviceInfoSet);
    if (!set) return FALSE;
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    DWORD seen = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const platform::DeviceInterface &entry = set->interfaces[i];
        if (!platform::sameGuid(entry.interfaceClass, *InterfaceClassGuid)) continue;
        // Each device has one interface; a device record narrows the enumeration to that device.
        if (DeviceInfoData != nullptr && DeviceInfoData->DevInst != i + 1) continue;
        if (seen++ != MemberIndex) continue;
        DeviceInterfaceData->InterfaceClassGuid = entry.interfaceClass;
        DeviceInterfaceData->Flags = entry.present ? platform::interfaceActive : 0;
        DeviceInterfaceData->Reserved = i + 1;
        return TRUE;
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

extern "C" BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                                        DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                        PSP_DEVINFO_DATA DeviceInfoData) {
    if (platform::injectedFault("SetupDiGetDeviceInterfaceDetailA")) return FALSE;
    auto set = platform::lookupDeviceInfoSet(DeviceInfoSet);
    if (!set) return FALSE;
    if (DeviceInterfaceData == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    const platform::DeviceInterface *entry = platform::namedInterface(*set, *DeviceInterfaceData);
    if (entry == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (DeviceInterfaceDetailData == nullptr) {
        if (DeviceInterfaceDetailDataSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
    } else {
        if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            return fail(ERROR_INVALID_USER_BUFFER);
        }
        if (DeviceInterfaceDetailDataSize < platform::detailFixedPart + sizeof(CHAR)) {
            return fail(ERROR_INVALID_USER_BUFFER);
        }
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    auto required = static_cast<DWORD>(platform::detailFixedPart + entry->path.size() + 1);
    if (RequiredSize != nullptr) *RequiredSize = required;
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < required) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // DevicePath is declared with one element; the text runs on into the rest of the caller's buffer.
    char *path = reinterpret_cast<char *>(DeviceInterfaceDetailData) + platform::detailFixedPart;
    std::memcpy(path, entry->path.c_str(), entry->path.size() + 1);
    if (DeviceInfoData != nullptr) {
        DeviceInfoData->ClassGuid = GUID{};
        DeviceInfoData->DevInst = static_cast<DWORD>(DeviceInterfaceData->Reserved);
        DeviceInfoData->Reserved = 0;
    }
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    return platform::removeDeviceInfoSet(DeviceInfoSet) ? TRUE : FALSE;
}
