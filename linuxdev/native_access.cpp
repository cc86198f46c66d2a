#include "linuxdev/native_access.h"

#include <cstdio>

#include "linuxdev/native_backend.h"

namespace linuxdev {

std::string usbNodeOf(const NativeCandidate &candidate) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", libusb_get_bus_number(candidate.device.get()),
                  libusb_get_device_address(candidate.device.get()));
    return node;
}

std::string nativeAvailability(const NativeCandidate &candidate) {
    // A second claim of an interface this process holds would mean nothing.
    if (NativeBackend::instance().holds(candidate.interfacePath)) return "open in this process";
    libusb_device_handle *handle = nullptr;
    int result = libusb_open(candidate.device.get(), &handle);
    if (result == LIBUSB_ERROR_ACCESS) {
        return "no permission to open it (EACCES): access denied; install linuxdev/udev/60-virivorezu.rules as "
               "the README says";
    }
    if (result != 0) return std::string("cannot be opened: ") + libusb_strerror(static_cast<libusb_error>(result));
    result = libusb_claim_interface(handle, candidate.interfaceNumber);
    if (result == 0) libusb_release_interface(handle, candidate.interfaceNumber);
    // Linux tells whether a kernel driver holds it; a program that claimed it stays unnamed.
    bool kernelDriver =
        result == LIBUSB_ERROR_BUSY && libusb_kernel_driver_active(handle, candidate.interfaceNumber) == 1;
    libusb_close(handle);
    if (kernelDriver) {
        return "interface " + std::to_string(candidate.interfaceNumber) +
               " held by a kernel driver (EBUSY): access denied";
    }
    if (result == LIBUSB_ERROR_BUSY) {
        return "interface " + std::to_string(candidate.interfaceNumber) +
               " claimed by another program (EBUSY): access denied";
    }
    if (result != 0) return std::string("cannot be claimed: ") + libusb_strerror(static_cast<libusb_error>(result));
    return "free: nothing else holds it, and this user may open it";
}

}  // namespace linuxdev
