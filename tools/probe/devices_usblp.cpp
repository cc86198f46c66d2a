#include <cstdio>

#include "linuxdev/native_access.h"
#include "linuxdev/native_backend.h"
#include "linuxdev/open_error.h"
#include "linuxdev/usblp_node.h"
#include "tools/probe/devices_on_this_machine.h"

namespace probe {

namespace {

void printNativeDevices() {
    std::printf("\nlibusb devices (the native transport: a vendor-specific bulk interface)\n");
    auto candidates = linuxdev::listNativeCandidates(linuxdev::NativeBackend::instance().context());
    if (candidates.empty()) {
        std::printf("  (none: no supported printer with a vendor-specific interface is plugged in)\n");
        return;
    }
    for (const linuxdev::NativeCandidate &candidate : candidates) {
        std::string node = linuxdev::usbNodeOf(candidate);
        std::printf("  %s\n", candidate.interfacePath.c_str());
        std::printf("                node %s  %s, interface %d\n", node.c_str(),
                    linuxdev::nodePermissions(node).c_str(), candidate.interfaceNumber);
        std::printf("                %s\n", linuxdev::nativeAvailability(candidate).c_str());
    }
}

void printUsblpNodes() {
    std::printf("\nusblp device nodes (the Linux kernel's USB printer driver)\n");
    auto nodes = linuxdev::listUsblpNodes();
    if (nodes.empty()) {
        std::printf("  (none: no USB printer is plugged in, or the usblp module is not loaded)\n");
        return;
    }
    for (const linuxdev::UsblpNode &node : nodes) {
        std::printf("  %s\n", node.interfacePath.c_str());
        std::printf("                node %s  %s\n", node.devnode.c_str(),
                    linuxdev::nodePermissions(node.devnode).c_str());
        std::printf("                %s\n", linuxdev::nodeAvailability(node.devnode).c_str());
    }
}

}  // namespace

void printDeviceNodes() {
    printUsblpNodes();
    printNativeDevices();
}

}  // namespace probe
