#include "linuxdev/udev_monitor.h"

#include <libudev.h>

#include <cstring>

namespace linuxdev {

UdevMonitor::UdevMonitor() {
    context_ = udev_new();
    if (context_ == nullptr) return;
    monitor_ = udev_monitor_new_from_netlink(context_, "udev");
    if (monitor_ == nullptr) return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usbmisc", nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device");
    if (udev_monitor_enable_receiving(monitor_) < 0) return;
    fd_ = udev_monitor_get_fd(monitor_);
}

UdevMonitor::~UdevMonitor() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (context_ != nullptr) udev_unref(context_);
}

std::vector<std::string> UdevMonitor::takeRemovals() {
    std::vector<std::string> removed;
    if (fd_ < 0) return removed;
    // The monitor's socket is non-blocking: receive returns null once it is drained.
    while (udev_device *device = udev_monitor_receive_device(monitor_)) {
        const char *action = udev_device_get_action(device);
        const char *syspath = udev_device_get_syspath(device);
        if (action != nullptr && syspath != nullptr && std::strcmp(action, "remove") == 0) {
            removed.push_back(syspath);
        }
        udev_device_unref(device);
    }
    return removed;
}

}  // namespace linuxdev
