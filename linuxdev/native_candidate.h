// The USB devices the native transport can drive: a supported identifier pair and a vendor-specific interface
// (class 0xFF) with one bulk IN and one bulk OUT endpoint, each under its Windows-form path in the native driver's
// interface class. With VIRIVOREZU_NATIVE_PRINTER_CLASS set, a printer-class interface (class 7) of the same shape
// that no kernel driver (usblp) holds is listed too.
#pragma once

#include <libusb.h>

#include <memory>
#include <string>
#include <vector>

namespace linuxdev {

struct NativeCandidate {
    // Holds a reference on the device while the candidate lives.
    std::shared_ptr<libusb_device> device;
    std::string interfacePath;
    int interfaceNumber = 0;
    unsigned char inEndpoint = 0;
    unsigned char outEndpoint = 0;
    // The IN endpoint's packet size: a read asks for whole packets, as a shorter buffer would overflow.
    int inPacketSize = 512;
    // Bus and port path, as Linux names the device in sysfs (1-1.2).
    std::string portPath;
};

// The devices present now. Empty without a context.
std::vector<NativeCandidate> listNativeCandidates(libusb_context *context);

// Whether the supported-device table lists the identifier pair.
bool isSupportedPair(int vid, int pid);

}  // namespace linuxdev
