#include "linuxdev/usblp_node.h"

#include <libudev.h>

#include <cstdlib>
#include <cstring>

#include "linuxdev/interface_path.h"

namespace linuxdev {
namespace {

std::string attribute(udev_device *device, const char *name) {
    const char *value = udev_device_get_sysattr_value(device, name);
    if (value == nullptr) return std::string();
    std::string text = value;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

int hexAttribute(udev_device *device, const char *name) {
    std::string text = attribute(device, name);
    return text.empty() ? -1 : static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
}

// False for a usbmisc node that is no usblp printer (a node without a usb_device above it, or not lp*).
bool describe(udev_device *misc, UsblpNode &node, PrinterInstance &instance) {
    const char *sysname = udev_device_get_sysname(misc);
    const char *devnode = udev_device_get_devnode(misc);
    if (sysname == nullptr || devnode == nullptr || std::strncmp(sysname, "lp", 2) != 0) return false;
    // Owned by `misc`.
    udev_device *usb = udev_device_get_parent_with_subsystem_devtype(misc, "usb", "usb_device");
    if (usb == nullptr) return false;
    node.vid = hexAttribute(usb, "idVendor");
    node.pid = hexAttribute(usb, "idProduct");
    if (node.vid < 0 || node.pid < 0) return false;
    node.devnode = devnode;
    node.syspath = udev_device_get_syspath(misc);
    node.usbDeviceSyspath = udev_device_get_syspath(usb);
    instance = PrinterInstance{node.vid, node.pid, attribute(usb, "serial"), udev_device_get_sysname(usb)};
    return true;
}

}  // namespace

std::vector<UsblpNode> listUsblpNodes() {
    std::vector<UsblpNode> nodes;
    std::vector<PrinterInstance> instances;
    udev *context = udev_new();
    if (context == nullptr) return nodes;
    udev_enumerate *enumeration = udev_enumerate_new(context);
    if (enumeration != nullptr) {
        udev_enumerate_add_match_subsystem(enumeration, "usbmisc");
        udev_enumerate_scan_devices(enumeration);
        udev_list_entry *entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
            udev_device *misc = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (misc == nullptr) continue;
            UsblpNode node;
            PrinterInstance instance;
            if (describe(misc, node, instance)) {
                nodes.push_back(node);
                instances.push_back(instance);
            }
            udev_device_unref(misc);
        }
        udev_enumerate_unref(enumeration);
    }
    udev_unref(context);
    std::vector<std::string> names = instanceNames(instances);
    for (size_t i = 0; i < nodes.size(); ++i)
        nodes[i].interfacePath = usbPrintInterfacePath(nodes[i].vid, nodes[i].pid, names[i]);
    return nodes;
}

}  // namespace linuxdev
