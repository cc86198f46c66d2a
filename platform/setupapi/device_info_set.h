// Device information sets: the snapshots of device interfaces that SetupDiGetClassDevsA hands out.
#pragma once

#include <setupapi.h>

#include <memory>
#include <vector>

#include "files/device_namespace.h"

namespace platform {

struct DeviceInfoSet {
    std::vector<DeviceInterface> interfaces;
};

HDEVINFO insertDeviceInfoSet(std::shared_ptr<DeviceInfoSet> set);
// Null, with ERROR_INVALID_HANDLE, for a value that names no live set.
std::shared_ptr<DeviceInfoSet> lookupDeviceInfoSet(HDEVINFO handle);
bool removeDeviceInfoSet(HDEVINFO handle);
// Sets not yet destroyed, for leak checks in tests.
size_t openDeviceInfoSetCount();

}  // namespace platform
