#include "emulated_printer.h"

#include <fcntl.h>
#include <poll.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "linuxdev/usblp_backend.h"
#include "emulated_usblp_node.h"

namespace linuxdev_test {
namespace {

// A handler's flag, kept for the life of the process: umockdev's worker thread may have read it last, and the
// handler's release is ordered after that only by GLib's reference count, whose atomics ThreadSanitizer does not see
// (freed with the handler, the free was reported as a race). A few bytes per plug.
std::atomic<bool> *newUnpluggedFlag() {
    static std::mutex lock;
    static std::deque<std::atomic<bool>> flags;
    std::lock_guard<std::mutex> guard(lock);
    return &flags.emplace_back(false);
}

std::atomic<bool> &unpluggedFlag(_UMockdevIoctlBase *handler) {
    // One flag per handler, kept in the handler's GObject data.
    auto *flag = static_cast<std::atomic<bool> *>(g_object_get_data(G_OBJECT(handler), "unplugged"));
    return *flag;
}

// usblp answers every call on a printer that went with ENODEV; everything else goes through to the node.
gboolean refuseWhenUnplugged(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, gpointer) {
    if (!unpluggedFlag(handler).load()) return FALSE;
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
}

std::string hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

_UMockdevTestbed *testbed() {
    static UMockdevTestbed *bed = [] {
        if (std::getenv("LD_PRELOAD") == nullptr ||
            std::string(std::getenv("LD_PRELOAD")).find("umockdev") == std::string::npos) {
            throw std::runtime_error("run under umockdev-wrapper");
        }
        return umockdev_testbed_new();
    }();
    return bed;
}

std::string testbedRoot() {
    // A copy the caller owns.
    gchar *root = umockdev_testbed_get_root_dir(testbed());
    std::string text = root;
    g_free(root);
    return text;
}

EmulatedPrinter::EmulatedPrinter(PrinterIdentity identity) : identity_(std::move(identity)) {}

EmulatedPrinter::~EmulatedPrinter() {
    if (isPlugged()) unplug();
}

std::string EmulatedPrinter::usbSyspath() const {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + identity_.port;
}
std::string EmulatedPrinter::interfaceSyspath() const { return usbSyspath() + "/" + identity_.port + ":1.0"; }
std::string EmulatedPrinter::miscSyspath() const {
    return interfaceSyspath() + "/usbmisc/lp" + std::to_string(number_);
}

// umockdev's preload library formats the paths of nodes and sockets into one static buffer without a lock, so
// adding or removing a node beside an open of one can send that open to the wrong socket, which ends the process.
// The backend opens and uses its nodes under its lock: holding it here keeps the emulation to one such call at a
// time. Nothing done under it waits for the backend.
namespace {
std::unique_lock<std::mutex> emulationGuard() {
    return std::unique_lock<std::mutex>(linuxdev::UsblpBackend::instance().mutex());
}
}  // namespace

void EmulatedPrinter::plug() {
    auto guard = emulationGuard();
    static int nextNumber = 0;
    int number = nextNumber++;
    number_ = number;
    std::string ids = hex4(identity_.vid) + "/" + hex4(identity_.pid);
    std::string usb = "P: " + usbSyspath().substr(4) +
                      "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: DRIVER=usb\nE: PRODUCT=" + ids +
                      "/100\nA: idVendor=" + hex4(identity_.vid) + "\nA: idProduct=" + hex4(identity_.pid) +
                      "\nA: bcdDevice=0100\nA: busnum=1\nA: devnum=2\nA: bConfigurationValue=1\n";
    if (!identity_.serial.empty()) usb += "A: serial=" + identity_.serial + "\n";
    std::string interface = "\nP: " + interfaceSyspath().substr(4) +
                            "\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\nE: DRIVER=usblp\n"
                            "A: bInterfaceClass=07\nA: bInterfaceSubClass=01\nA: bInterfaceProtocol=02\n";
    std::string misc = "\nP: " + miscSyspath().substr(4) + "\nN: usb/lp" + std::to_string(number) +
                       "\nE: DEVNAME=" + devnode() +
                       "\nE: SUBSYSTEM=usbmisc\nE: MAJOR=180\nE: MINOR=" + std::to_string(number) +
                       "\nA: dev=180:" + std::to_string(number) + "\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed(), (usb + interface + misc).c_str(), &error)) {
        throw std::runtime_error(std::string("add_from_string: ") + error->message);
    }
    handler_ = umockdev_ioctl_base_new();
    g_object_set_data(G_OBJECT(handler_), "unplugged", newUnpluggedFlag());
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(refuseWhenUnplugged), nullptr);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(refuseWhenUnplugged), nullptr);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(refuseWhenUnplugged), nullptr);
    if (!umockdev_testbed_attach_ioctl(testbed(), devnode().c_str(), handler_, &error)) {
        throw std::runtime_error(std::string("attach_ioctl: ") + error->message);
    }
    master_ = umockdev_testbed_get_dev_fd(testbed(), devnode().c_str());
    if (master_ < 0) throw std::runtime_error("no far end for " + devnode());
    // A child that inherited the far end would keep the node from hanging up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    terminal_ = ptsname(master_);
    node_ = EmulatedUsblpNode::plug(devnode());
}

void EmulatedPrinter::unplug() { removeEntries(true); }

void EmulatedPrinter::unplugBeforeUdevKnows() { removeEntries(false); }

void EmulatedPrinter::removeEntries(bool announce) {
    auto guard = emulationGuard();
    // umockdev sends no remove event of its own, and leaves a child's node behind its parent: leaf first.
    for (const std::string &path : {miscSyspath(), interfaceSyspath(), usbSyspath()}) {
        if (announce) umockdev_testbed_uevent(testbed(), path.c_str(), "remove");
    }
    for (const std::string &path : {miscSyspath(), interfaceSyspath(), usbSyspath()}) {
        umockdev_testbed_remove_device(testbed(), path.c_str());
    }
    unpluggedFlag(handler_).store(true);
    // Before the terminal hangs up: usblp reports an unplug by ENODEV, never by a hang-up.
    node_->unplug();
    ::close(master_);
    master_ = -1;
    // Frees the node's name for the next printer plugged under it; umockdev leaves the node itself behind.
    umockdev_testbed_detach_ioctl(testbed(), devnode().c_str(), nullptr);
    g_object_unref(handler_);
    handler_ = nullptr;
    std::string root = testbedRoot();
    ::unlink((root + devnode()).c_str());
    // Nor its record of the terminal it used, which a later printer given the same terminal would trip over.
    std::string mapped = terminal_;
    for (char &c : mapped) {
        if (c == '/') c = '_';
    }
    ::unlink((root + "/dev/.ptymap/" + mapped).c_str());
}

std::string EmulatedPrinter::nodeTarget() const {
    char root[PATH_MAX] = {};
    std::string link = testbedRoot() + devnode();
    ssize_t length = readlink(link.c_str(), root, sizeof root - 1);
    return length > 0 ? std::string(root, static_cast<size_t>(length)) : link;
}

int EmulatedPrinter::descriptorsOnNode() const { return descriptorsOn(nodeTarget()); }

bool EmulatedPrinter::receive(std::string &bytes, size_t count, int boundMs) {
    return node_->receive(bytes, count, boundMs);
}

bool EmulatedPrinter::send(const std::string &bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string EmulatedPrinter::drain() {
    std::string bytes;
    for (std::string chunk = node_->takeWritten(100); !chunk.empty(); chunk = node_->takeWritten(100)) bytes += chunk;
    return bytes;
}

std::string EmulatedPrinter::takeWritten(int waitMs) { return node_->takeWritten(waitMs); }

size_t EmulatedPrinter::trySend(const std::string &bytes) {
    pollfd p{master_, POLLOUT, 0};
    if (poll(&p, 1, 0) <= 0 || (p.revents & POLLOUT) == 0) return 0;
    ssize_t put = ::write(master_, bytes.data(), bytes.size());
    return put > 0 ? static_cast<size_t>(put) : 0;
}

}  // namespace linuxdev_test
