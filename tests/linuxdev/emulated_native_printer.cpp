#include "emulated_native_printer.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <pty.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "emulated_printer.h"

namespace linuxdev_test {
namespace {

const unsigned char inEndpoint = 0x81;
const unsigned char outEndpoint = 0x02;
const int packetSize = 512;

std::string hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// Little-endian, as in the descriptors.
std::string hexLe16(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X", value & 0xFF, (value >> 8) & 0xFF);
    return text;
}

// The device descriptor, and one configuration with one interface of the class asked for and its two bulk
// endpoints of 512 bytes (a high-speed printer's).
std::string descriptors(const NativeIdentity &identity) {
    char interfaceClass[4];
    std::snprintf(interfaceClass, sizeof interfaceClass, "%02X", identity.interfaceClass & 0xFF);
    return "12010002000000"
           "40" +
           hexLe16(identity.vid) + hexLe16(identity.pid) +
           "0001"
           "010203"
           "01" +
           "09022000010100803209040000"
           "02" +
           interfaceClass + "000000" + "0705810200020007050202000200";
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
    return static_cast<EmulatedNativePrinter *>(self)->handle(client) ? TRUE : FALSE;
}

}  // namespace

struct EmulatedNativePrinter::Urb {
    ~Urb() {
        if (urb != nullptr) g_object_unref(urb);
        if (buffer != nullptr) g_object_unref(buffer);
    }
    usbdevfs_urb *record() const { return static_cast<usbdevfs_urb *>(static_cast<void *>(urb->data)); }

    // The client's struct usbdevfs_urb and its data buffer, as umockdev maps them.
    UMockdevIoctlData *urb = nullptr;
    UMockdevIoctlData *buffer = nullptr;
    unsigned char type = 0;
    unsigned char endpoint = 0;
    int length = 0;
};

EmulatedNativePrinter::EmulatedNativePrinter(NativeIdentity identity) : identity_(std::move(identity)) {}

EmulatedNativePrinter::~EmulatedNativePrinter() {
    if (plugged_) unplug();
    if (handler_ != nullptr) {
        umockdev_testbed_detach_ioctl(testbed(), devnode().c_str(), nullptr);
        g_object_unref(handler_);
    }
    if (filler_ >= 0) ::close(filler_);
}

std::string EmulatedNativePrinter::usbSyspath() const {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + identity_.port;
}

std::string EmulatedNativePrinter::devnode() const {
    char name[32];
    std::snprintf(name, sizeof name, "/dev/bus/usb/001/%03d", devnum_);
    return name;
}

void EmulatedNativePrinter::plug() {
    static int nextDevnum = 20;
    if (handler_ != nullptr) {
        umockdev_testbed_detach_ioctl(testbed(), devnode().c_str(), nullptr);
        g_object_unref(handler_);
        handler_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pending_.clear();
        done_.clear();
        in_.clear();
        out_.clear();
        // A device plugged in anew has no claim on it.
        claimed_ = false;
    }
    devnum_ = nextDevnum++;
    std::string ids = hex4(identity_.vid) + "/" + hex4(identity_.pid);
    // sysfs ends the values libusb reads with a newline, which it checks ("\\n" is umockdev's escape for it).
    std::string usb = "P: " + usbSyspath().substr(4) + "\nN: " + devnode().substr(5) + "\nE: DEVNAME=" + devnode() +
                      "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: DRIVER=usb\nE: PRODUCT=" + ids +
                      "/100\nE: BUSNUM=001\nE: DEVNUM=" + devnode().substr(17) +
                      "\nE: MAJOR=189\nE: MINOR=" + std::to_string(devnum_) + "\nA: idVendor=" + hex4(identity_.vid) +
                      "\nA: idProduct=" + hex4(identity_.pid) +
                      "\nA: bcdDevice=0100\nA: busnum=1\\n\nA: devnum=" + std::to_string(devnum_) +
                      "\\n\nA: devpath=" + identity_.port.substr(2) +
                      "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1"
                      "\nA: bNumInterfaces= 1\nA: bMaxPacketSize0=64\nA: dev=189:" +
                      std::to_string(devnum_) + "\n";
    if (!identity_.serial.empty()) usb += "A: serial=" + identity_.serial + "\\n\n";
    usb += "H: descriptors=" + descriptors(identity_) + "\n";
    std::string interface = "\nP: " + usbSyspath().substr(4) + "/" + identity_.port +
                            ":1.0\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\nA: bInterfaceNumber=00\n"
                            "A: bAlternateSetting= 0\nA: bNumEndpoints=02\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed(), (usb + interface).c_str(), &error)) {
        throw std::runtime_error(std::string("add_from_string: ") + error->message);
    }
    {
        // The terminal is replaced under the lock, and the device counts as plugged only once the new one is
        // non-blocking: a request of the last plug's client that umockdev's thread is still answering fills the
        // terminal, and would otherwise write to a descriptor number being reused, blocking for good.
        std::lock_guard<std::mutex> guard(mutex_);
        // The node becomes a terminal: libusb polls it for POLLOUT, which the model raises only when a URB is done.
        char terminal[256];
        termios raw{};
        cfmakeraw(&raw);
        if (filler_ >= 0) ::close(filler_);
        if (openpty(&master_, &filler_, terminal, &raw, nullptr) != 0) throw std::runtime_error("openpty");
        for (int fd : {master_, filler_}) {
            fcntl(fd, F_SETFL, O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        std::string node = testbedRoot() + devnode();
        if (::unlink(node.c_str()) != 0 || ::symlink(terminal, node.c_str()) != 0) {
            throw std::runtime_error("cannot make " + node + " a terminal");
        }
        blockPollOut();
        unplugged_ = false;
    }
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
    if (!umockdev_testbed_attach_ioctl(testbed(), devnode().c_str(), handler_, &error)) {
        throw std::runtime_error(std::string("attach_ioctl: ") + error->message);
    }
    plugged_ = true;
}

void EmulatedNativePrinter::unplug() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        unplugged_ = true;
        // The kernel kills the URBs in flight.
        while (!pending_.empty()) {
            auto urb = pending_.front();
            pending_.pop_front();
            finish(urb, -ESHUTDOWN, 0);
        }
        // Hung up: the client's poll reports an error, libusb's own path for a disconnect.
        ::close(master_);
        master_ = -1;
    }
    std::string interface = usbSyspath() + "/" + identity_.port + ":1.0";
    for (const std::string &path : {interface, usbSyspath()}) {
        umockdev_testbed_uevent(testbed(), path.c_str(), "remove");
    }
    for (const std::string &path : {interface, usbSyspath()}) umockdev_testbed_remove_device(testbed(), path.c_str());
    plugged_ = false;
}

bool EmulatedNativePrinter::receive(std::string &bytes, size_t count, int boundMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool enough = changed_.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return out_.size() >= count; });
    bytes = out_;
    out_.clear();
    return enough;
}

void EmulatedNativePrinter::send(const std::string &bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    in_ += bytes;
    progress();
}

void EmulatedNativePrinter::pauseOut(bool paused) {
    std::lock_guard<std::mutex> guard(mutex_);
    outPaused_ = paused;
    progress();
}

void EmulatedNativePrinter::stallIn() {
    std::lock_guard<std::mutex> guard(mutex_);
    inHalted_ = true;
    progress();
}

int EmulatedNativePrinter::inHaltsCleared() {
    std::lock_guard<std::mutex> guard(mutex_);
    return inHaltsCleared_;
}

void EmulatedNativePrinter::holdInterfaceElsewhere(bool held) {
    std::lock_guard<std::mutex> guard(mutex_);
    heldElsewhere_ = held;
}

void EmulatedNativePrinter::bindKernelDriver(const std::string &name) {
    std::lock_guard<std::mutex> guard(mutex_);
    kernelDriver_ = name;
}

int EmulatedNativePrinter::claims() {
    std::lock_guard<std::mutex> guard(mutex_);
    return claims_;
}

int EmulatedNativePrinter::releases() {
    std::lock_guard<std::mutex> guard(mutex_);
    return releases_;
}

int EmulatedNativePrinter::pendingIn() {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(std::count_if(pending_.begin(), pending_.end(),
                                          [](const std::shared_ptr<Urb> &u) { return (u->endpoint & 0x80) != 0; }));
}

// A full terminal buffer means "nothing to reap": libusb sleeps in poll.
void EmulatedNativePrinter::blockPollOut() {
    static const char junk[4096] = {};
    if (filler_ < 0) return;
    while (::write(filler_, junk, sizeof junk) > 0) {
    }
}

void EmulatedNativePrinter::raisePollOut() {
    char drained[4096];
    if (master_ < 0) return;
    while (::read(master_, drained, sizeof drained) > 0) {
    }
}

void EmulatedNativePrinter::finish(std::shared_ptr<Urb> urb, int status, int actual) {
    urb->record()->status = status;
    urb->record()->actual_length = actual;
    done_.push_back(std::move(urb));
    raisePollOut();
    changed_.notify_all();
}

// As the wire delivers them: packets of up to 512 bytes until the buffer is full or a short packet ends the
// transfer. A packet larger than the room left overflows: the kernel reports EOVERFLOW and the rest of it is lost.
void EmulatedNativePrinter::fillIn(const std::shared_ptr<Urb> &urb) {
    int taken = 0;
    while (taken < urb->length && !in_.empty()) {
        int packet = std::min(static_cast<int>(in_.size()), packetSize);
        int room = urb->length - taken;
        std::memcpy(urb->buffer->data + taken, in_.data(), static_cast<size_t>(std::min(packet, room)));
        in_.erase(0, static_cast<size_t>(packet));
        if (packet > room) return finish(urb, -EOVERFLOW, urb->length);
        taken += packet;
        if (packet < packetSize) break;
    }
    finish(urb, 0, taken);
}

// Moves URBs in flight as far as the printer's state allows; with the lock held.
void EmulatedNativePrinter::progress() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        std::shared_ptr<Urb> urb = *it;
        bool in = (urb->endpoint & 0x80) != 0;
        if (in && inHalted_) {
            it = pending_.erase(it);
            finish(urb, -EPIPE, 0);
        } else if (in && !in_.empty()) {
            it = pending_.erase(it);
            fillIn(urb);
        } else if (!in && !outPaused_) {
            if (urb->length > 0) out_.append(reinterpret_cast<const char *>(urb->buffer->data), urb->length);
            it = pending_.erase(it);
            finish(urb, 0, urb->length);
        } else {
            ++it;
        }
    }
}

int EmulatedNativePrinter::submit(UMockdevIoctlClient *client) {
    GError *error = nullptr;
    auto urb = std::make_shared<Urb>();
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    urb->urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (urb->urb == nullptr) {
        g_clear_error(&error);
        return EFAULT;
    }
    urb->type = urb->record()->type;
    urb->endpoint = urb->record()->endpoint;
    urb->length = urb->record()->buffer_length;
    if (urb->length > 0) {
        urb->buffer = umockdev_ioctl_data_resolve(urb->urb, offsetof(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(urb->length), &error);
        g_clear_error(&error);
    }
    // Only bulk transfers: the backend asks the device nothing over the control pipe.
    if (urb->type != USBDEVFS_URB_TYPE_BULK) return EINVAL;
    pending_.push_back(urb);
    progress();
    return 0;
}

int EmulatedNativePrinter::discard(UMockdevIoctlClient *client) {
    auto address = *static_cast<gulong *>(static_cast<void *>(umockdev_ioctl_client_get_arg(client)->data));
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if ((*it)->urb->client_addr != address) continue;
        auto urb = *it;
        pending_.erase(it);
        finish(urb, -ENOENT, 0);
        return 0;
    }
    // Not in flight, as the kernel says.
    return EINVAL;
}

int EmulatedNativePrinter::nameDriver(UMockdevIoctlClient *client) {
    GError *error = nullptr;
    UMockdevIoctlData *data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_getdriver), &error);
    g_clear_error(&error);
    if (data == nullptr) return EFAULT;
    auto *record = static_cast<usbdevfs_getdriver *>(static_cast<void *>(data->data));
    std::snprintf(record->driver, sizeof record->driver, "%s", kernelDriver_.c_str());
    g_object_unref(data);
    return 0;
}

int EmulatedNativePrinter::clearHalt(UMockdevIoctlClient *client) {
    GError *error = nullptr;
    UMockdevIoctlData *data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned int), &error);
    g_clear_error(&error);
    if (data == nullptr) return EFAULT;
    unsigned int endpoint = *static_cast<unsigned int *>(static_cast<void *>(data->data));
    g_object_unref(data);
    if ((endpoint & 0x80) != 0) {
        inHalted_ = false;
        ++inHaltsCleared_;
    }
    return 0;
}

bool EmulatedNativePrinter::reap(UMockdevIoctlClient *client) {
    progress();
    if (done_.empty()) {
        if (!unplugged_) blockPollOut();
        return false;
    }
    std::shared_ptr<Urb> urb = done_.front();
    done_.pop_front();
    GError *error = nullptr;
    UMockdevIoctlData *arg =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void *), &error);
    g_clear_error(&error);
    // Hands the client its own URB back; umockdev copies the record and its buffer into the client.
    umockdev_ioctl_data_set_ptr(arg, 0, urb->urb);
    g_object_unref(arg);
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
}

bool EmulatedNativePrinter::handle(UMockdevIoctlClient *client) {
    gulong request = umockdev_ioctl_client_get_request(client);
    std::unique_lock<std::mutex> lock(mutex_);
    int error = 0;
    if (unplugged_ && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        error = ENODEV;
    } else if (request == USBDEVFS_GET_CAPABILITIES) {
        GError *failure = nullptr;
        UMockdevIoctlData *data =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(guint32), &failure);
        g_clear_error(&failure);
        // What an xHCI host reports.
        *static_cast<guint32 *>(static_cast<void *>(data->data)) =
            USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
            USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        g_object_unref(data);
    } else if (request == USBDEVFS_CLAIMINTERFACE) {
        // One claim at a time, as the kernel allows one file to hold an interface.
        if (heldElsewhere_ || claimed_ || !kernelDriver_.empty()) {
            error = EBUSY;
        } else {
            claimed_ = true;
            ++claims_;
        }
    } else if (request == USBDEVFS_RELEASEINTERFACE) {
        if (claimed_) {
            claimed_ = false;
            ++releases_;
        } else {
            error = EINVAL;
        }
    } else if (request == USBDEVFS_GETDRIVER) {
        error = kernelDriver_.empty() ? ENODATA : nameDriver(client);
    } else if (request == USBDEVFS_SUBMITURB) {
        error = submit(client);
    } else if (request == USBDEVFS_DISCARDURB) {
        error = discard(client);
    } else if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        if (reap(client)) return true;
        error = unplugged_ ? ENODEV : EAGAIN;
    } else if (request == USBDEVFS_CLEAR_HALT) {
        error = clearHalt(client);
    } else if (request == USBDEVFS_RESETEP || request == USBDEVFS_RESET || request == USBDEVFS_SETINTERFACE ||
               request == USBDEVFS_SETCONFIGURATION || request == USBDEVFS_DISCONNECT_CLAIM) {
        error = 0;
    } else {
        error = ENOTTY;
    }
    lock.unlock();
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
    return true;
}

}  // namespace linuxdev_test
