// A usblp printer emulated by umockdev in this process (the test binary runs under umockdev-wrapper): the sysfs
// entries udev lists, the /dev/usb/lpN node, and the far end of that node, through which the test plays the
// printer: the printer's bytes go through umockdev's terminal, the host's through the node's write transfers. Unplug
// does what the kernel does, in its order: udev's remove events, the sysfs entries gone leaf first, the node failing
// with ENODEV, then hung up.
#pragma once

#include <memory>
#include <string>

#include "emulated_usblp_node.h"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;

namespace linuxdev_test {

struct PrinterIdentity {
    int vid = 0x1fc9;
    int pid = 0x2016;
    // Empty: the printer reports no serial number.
    std::string serial = "MOCK0001";
    // The usb_device's name, its port path.
    std::string port = "1-1";
};

class EmulatedPrinter {
public:
    explicit EmulatedPrinter(PrinterIdentity identity = PrinterIdentity());
    ~EmulatedPrinter();
    EmulatedPrinter(const EmulatedPrinter &) = delete;
    EmulatedPrinter &operator=(const EmulatedPrinter &) = delete;

    // Adds the printer under a node number not used before in the process (umockdev keeps a name once given).
    void plug();
    int number() const { return number_; }
    void unplug();
    // The node hangs up (and fails with ENODEV) before udev tells anyone: the backend must notice by itself.
    void unplugBeforeUdevKnows();
    bool isPlugged() const { return master_ >= 0; }

    std::string devnode() const { return "/dev/usb/lp" + std::to_string(number_); }
    // The real file behind the node, as the process's descriptor table names it.
    std::string nodeTarget() const;
    // How many of this process's descriptors are open on the node.
    int descriptorsOnNode() const;

    // The printer's side. False when the bytes did not all arrive within the bound.
    bool receive(std::string &bytes, size_t count, int boundMs = 60000);
    bool send(const std::string &bytes);
    // What the host wrote that was not received yet, within a short wait.
    std::string drain();
    // What the host wrote, if anything arrives within `waitMs`: one read, however much is there.
    std::string takeWritten(int waitMs);
    // Sends what the node has room for now without blocking; how many bytes went.
    size_t trySend(const std::string &bytes);
    // The node as usblp.c makes it (emulated_usblp_node.h): holding transfers, failing reads, zero-length packets.
    EmulatedUsblpNode &node() { return *node_; }

private:
    std::string usbSyspath() const;
    std::string interfaceSyspath() const;
    std::string miscSyspath() const;
    void removeEntries(bool announce);

    PrinterIdentity identity_;
    int number_ = -1;
    int master_ = -1;
    // The terminal behind the node, /dev/pts/N.
    std::string terminal_;
    _UMockdevIoctlBase *handler_ = nullptr;
    std::shared_ptr<EmulatedUsblpNode> node_;
};

// The one testbed of the process, made at first use.
_UMockdevTestbed *testbed();
// The folder that stands for / to the emulated devices.
std::string testbedRoot();

}  // namespace linuxdev_test
