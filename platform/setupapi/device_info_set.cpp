#include "setupapi/device_info_set.h"

#include <map>
#include <mutex>

namespace platform {
namespace {

struct SetTable {
    std::mutex lock;
    // Keyed by the set's address, which is also its HDEVINFO value (a pointer on Windows, too).
    std::map<HDEVINFO, std::shared_ptr<DeviceInfoSet>> sets;
};

SetTable &table() {
    static auto *instance = new SetTable;
    return *instance;
}

}  // namespace

HDEVINFO insertDeviceInfoSet(std::shared_ptr<DeviceInfoSet> set) {
    SetTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    HDEVINFO handle = set.get();
    t.sets.emplace(handle, std::move(set));
    return handle;
}

std::shared_ptr<DeviceInfoSet> lookupDeviceInfoSet(HDEVINFO handle) {
    SetTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto found = t.sets.find(handle);
    if (found != t.sets.end()) return found->second;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

bool removeDeviceInfoSet(HDEVINFO handle) {
    SetTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (t.sets.erase(handle) == 1) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

size_t openDeviceInfoSetCount() {
    SetTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.sets.size();
}

}  // namespace platform
