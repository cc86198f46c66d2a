// A USB printer simulated under Wine, found by unmodified SetupAPI calls and opened by unmodified CreateFileA
// calls: its device interface in the registry, its interface name linked to the named-pipe device, and pipe
// servers for the interface itself and for the read pipe PIPE00 and the write pipe PIPE01.
#pragma once

#include "device_link.h"
#include "device_registration.h"
#include "pipe_server.h"

#include <memory>
#include <string>

namespace winetest {

enum class Transport { Native, PrinterClass };

class SimulatedPrinter {
public:
    // `vidPid` as in the interface path, "vid_0dd4&pid_015d". Names are unique within the process and carry its
    // id, so that parallel or leftover runs never meet.
    SimulatedPrinter(Transport transport, const std::string &vidPid);
    ~SimulatedPrinter() { unplug(); }
    SimulatedPrinter(const SimulatedPrinter &) = delete;
    SimulatedPrinter &operator=(const SimulatedPrinter &) = delete;

    bool plug(std::string &error);
    // Removes the interface, then ends every open pipe connection.
    void unplug();

    const DeviceIdentity &identity() const { return identity_; }
    std::string devicePath() const { return identity_.devicePath(); }

    // PIPE00: what the printer sends to the host goes out here.
    PipeServer &readPipe() { return *readPipe_; }
    // PIPE01: what the host writes arrives here; while it does not read, the host's writes wait.
    PipeServer &writePipe() { return *writePipe_; }
    // The bare interface path, which discovery opens to test a device.
    PipeServer &interfacePipe() { return *interfacePipe_; }

private:
    DeviceIdentity identity_;
    std::unique_ptr<PipeServer> interfacePipe_;
    std::unique_ptr<PipeServer> readPipe_;
    std::unique_ptr<PipeServer> writePipe_;
    DeviceLink link_;
    std::unique_ptr<DeviceRegistration> registration_;
};

// The `index`-th entry of the supported-device table that is written all in lower case, the form in which Wine
// puts identifiers into an interface path.
std::string supportedLowerCaseId(int index);

}  // namespace winetest
