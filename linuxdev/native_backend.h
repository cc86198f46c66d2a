// The native transport on Linux: printers with a vendor-specific bulk interface, reached through libusb under the
// native driver's interface class, and the one events thread that carries their transfers.
//
// The events thread runs only while this process has such a printer open; it sleeps in poll() on libusb's
// descriptors and a wake-up descriptor, with a time-out only while a transfer has one, so an idle link costs no
// wake-ups. One lock guards the open printers and their transfers; requests are completed after it is released,
// and libusb's handle is closed without it (libusb_close waits for the events thread, whose callbacks take it).
#pragma once

#include <windows.h>

#include <libusb.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/device_namespace.h"
#include "linuxdev/backend_thread.h"
#include "linuxdev/native_device.h"
#include "linuxdev/wakeup.h"

namespace linuxdev {

class NativeBackend : public platform::DeviceNamespace {
public:
    // Never destroyed: threads may still complete requests while the process exits.
    static NativeBackend &instance();

    std::shared_ptr<platform::DeviceFile> open(const std::string &path, DWORD flagsAndAttributes,
                                               DWORD &error) override;
    std::vector<platform::DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) override;

    std::mutex &mutex() { return mutex_; }
    // With the lock held. A printer that went is no longer shared with new opens.
    void forget(const std::shared_ptr<NativeDevice> &device);
    // With the lock held, as the device's last file closes: no open shares it any more, and opens of the same
    // printer wait until release() has let the interface go.
    void beginRelease(const std::shared_ptr<NativeDevice> &device);
    // Without the lock, after beginRelease: waits for the device's transfers to come back, releases the interface,
    // closes the handle, and stops the events thread with the last printer.
    void release(const std::shared_ptr<NativeDevice> &device);
    // libusb's completion of a transfer, on the events thread.
    void transferBack(NativeTransfer *transfer);
    // libusb's hot-plug callback for a device that left, on the events thread.
    void deviceLeft(libusb_device *device);
    // Without the lock: ends the events thread; unless `always`, only when no printer is open.
    void stopEventsThread(bool always = false);
    // At the library's unload: the events thread ends, and with no printer open libusb's context too, whose own
    // hot-plug thread would otherwise run on in a libusb that the unload may unmap.
    void shutDownAtUnload();

    // For the probe and the tests. Null when libusb cannot start here.
    libusb_context *context();
    size_t openDevices();
    size_t pendingReads();
    bool eventsThreadRunning();
    // Whether this process holds the printer at that interface path open.
    bool holds(const std::string &interfacePath);

private:
    NativeBackend();
    // With the lock held.
    libusb_context *contextLocked();
    // The printers present now, listed one caller at a time but outside mutex_ (see open).
    std::vector<NativeCandidate> listCandidates();
    bool releasingPath(const std::string &name);
    bool openingPath(const std::string &name);
    // With the lock held on entry; libusb opens and claims the printer without it. Held again on return, unless
    // the open failed.
    std::shared_ptr<platform::DeviceFile> openCandidate(std::unique_lock<std::mutex> &lock, NativeCandidate candidate,
                                                        platform::Pipe pipe, DWORD &error);
    void runEvents();

    std::mutex mutex_;
    // Never taken while mutex_ is held.
    std::mutex listMutex_;
    std::condition_variable changed_;
    libusb_context *context_ = nullptr;
    bool contextTried_ = false;
    // The printers open in this process and still present.
    std::vector<std::shared_ptr<NativeDevice>> devices_;
    // Printers whose last file closed and whose interface is being released.
    std::vector<std::shared_ptr<NativeDevice>> releasing_;
    // The interface paths of printers libusb is opening and claiming, without the lock.
    std::vector<std::string> opening_;
    // Printers whose handle is still open, gone ones included: the events thread serves them all.
    size_t handlesOpen_ = 0;
    Wakeup wakeup_;
    BackendThread eventsThread_{changed_};
};

// The completion callback every native transfer is submitted with.
void LIBUSB_CALL transferCameBack(libusb_transfer *transfer);

}  // namespace linuxdev
