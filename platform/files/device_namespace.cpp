#include "files/device_namespace.h"

#include <mutex>

namespace platform {
namespace {

struct Installed {
    std::mutex lock;
    std::shared_ptr<DeviceNamespace> devices;
};

Installed &installed() {
    static auto *instance = new Installed;
    return *instance;
}

}  // namespace

void installDeviceNamespace(std::shared_ptr<DeviceNamespace> devices) {
    Installed &i = installed();
    std::lock_guard<std::mutex> guard(i.lock);
    i.devices = std::move(devices);
}

std::shared_ptr<DeviceNamespace> deviceNamespace() {
    Installed &i = installed();
    std::lock_guard<std::mutex> guard(i.lock);
    return i.devices;
}

}  // namespace platform
