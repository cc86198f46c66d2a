// The Linux device backend: the usblp printers present, as the platform layer's device namespace, and the one
// I/O thread that waits on their descriptors, on udev's hot-plug events and on a wake-up descriptor.
//
// The I/O thread runs only while this process has a printer open; it sleeps in poll() with no time-out, so an idle
// link costs no wake-ups. One lock guards the open printers and their queues; requests are completed after it is
// released.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/device_namespace.h"
#include "linuxdev/backend_thread.h"
#include "linuxdev/usblp_device.h"
#include "linuxdev/wakeup.h"

namespace linuxdev {

class UsblpBackend : public platform::DeviceNamespace {
public:
    // Never destroyed: threads may still complete requests while the process exits.
    static UsblpBackend &instance();

    std::shared_ptr<platform::DeviceFile> open(const std::string &path, DWORD flagsAndAttributes,
                                               DWORD &error) override;
    std::vector<platform::DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) override;

    std::mutex &mutex() { return mutex_; }
    // With the lock held. A printer that went is no longer shared with new opens.
    void forget(const std::shared_ptr<UsblpDevice> &device);
    // With the lock held: true when that was the last open printer, and the I/O thread should now stop.
    bool fileClosed(const std::shared_ptr<UsblpDevice> &device);
    // Safe with or without the lock.
    void wakeIoThread();
    // Without the lock: ends the I/O thread and joins it; unless `always`, only when no printer is open (one may
    // have been opened since the last close).
    void stopIoThread(bool always = false);

    // For the probe and the tests: whether this process holds the node open, and how many printers it holds.
    bool holds(const std::string &devnode);
    size_t openDevices();
    bool ioThreadRunning();
    // Reads waiting on the printers this process holds.
    size_t pendingReads();

private:
    UsblpBackend();
    void runIo();
    void noticeRemovals(const std::vector<std::string> &syspaths, Completions &done);

    std::mutex mutex_;
    // The printers open in this process and still present.
    std::vector<std::shared_ptr<UsblpDevice>> devices_;
    std::condition_variable ioEnded_;
    Wakeup wakeup_;
    BackendThread ioThread_{ioEnded_};
};

}  // namespace linuxdev
