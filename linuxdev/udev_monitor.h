// udev's hot-plug events for USB printers, read from a descriptor the I/O thread polls.
#pragma once

#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace linuxdev {

class UdevMonitor {
public:
    UdevMonitor();
    ~UdevMonitor();
    UdevMonitor(const UdevMonitor &) = delete;
    UdevMonitor &operator=(const UdevMonitor &) = delete;

    // -1 without udev: unplugs are then seen by the device's own errors only.
    int fd() const { return fd_; }
    // The sysfs paths of the usbmisc and usb_device entries removed since the last call; does not block.
    std::vector<std::string> takeRemovals();

private:
    udev *context_ = nullptr;
    udev_monitor *monitor_ = nullptr;
    int fd_ = -1;
};

}  // namespace linuxdev
