#include "linuxdev/native_candidate.h"

#include <libudev.h>

#include <windows.h>

#include <cstdio>

#include "discovery/SupportedDevices.h"
#include "linuxdev/interface_path.h"

namespace linuxdev {
namespace {

const unsigned char vendorSpecificClass = 0xFF;
const unsigned char printerClass = 0x07;
const char printerClassVariable[] = "VIRIVOREZU_NATIVE_PRINTER_CLASS";

// The user's choice to drive printer-class interfaces without usblp; anything but an empty value or "0" says so.
bool printerClassWanted() {
    char value[8];
    DWORD length = GetEnvironmentVariableA(printerClassVariable, value, sizeof value);
    if (length == 0) return false;
    if (length >= sizeof value) return true;
    return std::string(value) != "0";
}

// Only an interface no kernel driver holds: one usblp serves belongs to the printer-class transport. A device
// this process may not open cannot say, so it is left to usblp too.
bool driverFree(libusb_device *device, int interfaceNumber) {
    libusb_device_handle *handle = nullptr;
    if (libusb_open(device, &handle) != 0) return false;
    bool free = libusb_kernel_driver_active(handle, interfaceNumber) == 0;
    libusb_close(handle);
    return free;
}

std::string portPathOf(libusb_device *device) {
    uint8_t ports[8];
    int count = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(device));
    if (count <= 0) return path + "-0";
    for (int i = 0; i < count; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

// The serial number as sysfs has it: libusb could read it only by opening the device, which another program may
// hold, and the path must not change with that.
std::string serialOf(const std::string &portPath) {
    std::string serial;
    udev *context = udev_new();
    if (context == nullptr) return serial;
    udev_device *usb = udev_device_new_from_subsystem_sysname(context, "usb", portPath.c_str());
    if (usb != nullptr) {
        const char *value = udev_device_get_sysattr_value(usb, "serial");
        if (value != nullptr) serial = value;
        while (!serial.empty() && (serial.back() == '\n' || serial.back() == ' ')) serial.pop_back();
        udev_device_unref(usb);
    }
    udev_unref(context);
    return serial;
}

// One bulk IN and one bulk OUT endpoint, nothing else that moves data.
bool bulkPair(const libusb_interface_descriptor &setting, unsigned char &in, unsigned char &out) {
    int ins = 0;
    int outs = 0;
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor &endpoint = setting.endpoint[e];
        if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
            in = endpoint.bEndpointAddress;
            ++ins;
        } else {
            out = endpoint.bEndpointAddress;
            ++outs;
        }
    }
    return ins == 1 && outs == 1;
}

bool acceptedClass(libusb_device *device, const libusb_interface_descriptor &setting, bool printerClassToo) {
    if (setting.bInterfaceClass == vendorSpecificClass) return true;
    if (!printerClassToo || setting.bInterfaceClass != printerClass) return false;
    return driverFree(device, setting.bInterfaceNumber);
}

bool findInterface(libusb_device *device, NativeCandidate &candidate, bool printerClassToo) {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const libusb_interface &interface = config->interface[i];
        if (interface.num_altsetting < 1) continue;
        const libusb_interface_descriptor &setting = interface.altsetting[0];
        if (!bulkPair(setting, candidate.inEndpoint, candidate.outEndpoint)) continue;
        if (!acceptedClass(device, setting, printerClassToo)) continue;
        candidate.interfaceNumber = setting.bInterfaceNumber;
        found = true;
    }
    libusb_free_config_descriptor(config);
    return found;
}

}  // namespace

bool isSupportedPair(int vid, int pid) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vid & 0xFFFF, pid & 0xFFFF);
    for (const char *const *entry = g_pszSupportedDevices; *entry != nullptr; ++entry) {
        if (platform::equalsIgnoringCase(*entry, ids)) return true;
    }
    return false;
}

std::vector<NativeCandidate> listNativeCandidates(libusb_context *context) {
    std::vector<NativeCandidate> found;
    std::vector<PrinterInstance> instances;
    if (context == nullptr) return found;
    bool printerClassToo = printerClassWanted();
    libusb_device **list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device *device = list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) continue;
        if (!isSupportedPair(descriptor.idVendor, descriptor.idProduct)) continue;
        NativeCandidate candidate;
        if (!findInterface(device, candidate, printerClassToo)) continue;
        int packetSize = libusb_get_max_packet_size(device, candidate.inEndpoint);
        if (packetSize > 0) candidate.inPacketSize = packetSize;
        candidate.portPath = portPathOf(device);
        instances.push_back(PrinterInstance{descriptor.idVendor, descriptor.idProduct, serialOf(candidate.portPath),
                                            candidate.portPath});
        candidate.device.reset(libusb_ref_device(device), libusb_unref_device);
        found.push_back(std::move(candidate));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    std::vector<std::string> names = instanceNames(instances);
    for (size_t i = 0; i < found.size(); ++i) {
        const PrinterInstance &printer = instances[i];
        found[i].interfacePath = usbInterfacePath(GUID_NATIVE_USB_INTERFACE, printer.vid, printer.pid, names[i]);
    }
    return found;
}

}  // namespace linuxdev
