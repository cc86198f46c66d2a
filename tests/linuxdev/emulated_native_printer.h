// A vendor-class USB printer emulated in this process for libusb: the usb_device and its interface in umockdev's
// sysfs tree, and its usbdevfs node answered by a device model (claims, bulk URBs submitted, reaped and discarded).
// The test plays the printer: what the host sent to the OUT endpoint, bytes for the IN endpoint, an OUT endpoint
// that takes nothing, an interface another program holds, and unplug.
//
// The node is a terminal whose far end the model keeps full while nothing can be reaped, so that libusb's poll
// sees POLLOUT only when a URB is done (umockdev's plain file would be always ready, and libusb would spin), and
// that hangs up at unplug, as the kernel's node does.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

namespace linuxdev_test {

struct NativeIdentity {
    int vid = 0x1fc9;
    int pid = 0x2016;
    std::string serial = "NATIVE01";
    // The usb_device's name: bus 1, port 2.
    std::string port = "1-2";
    int interfaceClass = 0xFF;
};

class EmulatedNativePrinter {
public:
    explicit EmulatedNativePrinter(NativeIdentity identity = NativeIdentity());
    ~EmulatedNativePrinter();
    EmulatedNativePrinter(const EmulatedNativePrinter &) = delete;
    EmulatedNativePrinter &operator=(const EmulatedNativePrinter &) = delete;

    // Adds the device under a device number not used before in the process.
    void plug();
    // URBs in flight end with ESHUTDOWN, udev's remove events go out, the node hangs up.
    void unplug();
    bool isPlugged() const { return plugged_; }
    std::string devnode() const;

    // The printer's side. False when the bytes did not all arrive within the bound.
    bool receive(std::string &bytes, size_t count, int boundMs = 60000);
    void send(const std::string &bytes);
    // While paused, OUT URBs stay in flight, as at a printer whose buffer is full.
    void pauseOut(bool paused);
    // The IN endpoint stalls: the URBs in flight on it and every later one end with EPIPE, until a clear-halt
    // request for it (usb_clear_halt through USBDEVFS_CLEAR_HALT; reopening does not clear a halt).
    void stallIn();
    // Clear-halt requests the host sent for the IN endpoint.
    int inHaltsCleared();
    // Another program holds the interface: a claim fails with EBUSY.
    void holdInterfaceElsewhere(bool held);
    // A kernel driver is bound to the interface (usbdevfs names it): a claim fails with EBUSY too.
    void bindKernelDriver(const std::string &name);

    int claims();
    int releases();
    // Bulk URBs in flight on the IN endpoint.
    int pendingIn();

    // The model's side of one ioctl, on umockdev's thread.
    bool handle(_UMockdevIoctlClient *client);

private:
    struct Urb;
    std::string usbSyspath() const;
    void progress();
    void fillIn(const std::shared_ptr<Urb> &urb);
    void finish(std::shared_ptr<Urb> urb, int status, int actual);
    void blockPollOut();
    void raisePollOut();
    bool reap(_UMockdevIoctlClient *client);
    int submit(_UMockdevIoctlClient *client);
    int discard(_UMockdevIoctlClient *client);
    int nameDriver(_UMockdevIoctlClient *client);
    int clearHalt(_UMockdevIoctlClient *client);

    NativeIdentity identity_;
    int devnum_ = 0;
    bool plugged_ = false;
    _UMockdevIoctlBase *handler_ = nullptr;
    int master_ = -1;
    int filler_ = -1;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Urb>> pending_;
    std::deque<std::shared_ptr<Urb>> done_;
    std::string in_;
    std::string out_;
    bool outPaused_ = false;
    bool inHalted_ = false;
    int inHaltsCleared_ = 0;
    bool heldElsewhere_ = false;
    bool claimed_ = false;
    std::string kernelDriver_;
    bool unplugged_ = false;
    int claims_ = 0;
    int releases_ = 0;
};

}  // namespace linuxdev_test
