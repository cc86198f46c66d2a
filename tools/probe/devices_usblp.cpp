#include <cstdio>

#include "linuxdev/open_error.h"
#include "linuxdev/usblp_node.h"
#include "tools/probe/devices_on_this_machine.h"

namespace probe {

void printDeviceNodes() {
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

}  // namespace probe
