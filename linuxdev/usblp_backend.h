// The Linux device backend: the usblp printers present, as the platform layer's device namespace, the one I/O
// thread that waits on their descriptors for reads, on udev's hot-plug events and on a wake-up descriptor, and one
// writer thread per open printer that waits in usblp's blocking write.
//
// The I/O thread runs only while this process has a printer open; it sleeps in poll() with no time-out, so an idle
// link costs no wake-ups (a writer idles on a condition). One lock guards the open printers and their queues;
// requests are completed after it is released.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/device_namespace.h"
#include "linuxdev/backend_thread.h"
#include "linuxdev/udev_monitor.h"
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
    // With the lock held. A printer that went is no longer shared with new opens; its descriptor is closed.
    void forget(const std::shared_ptr<UsblpDevice> &device);
    // With the lock held: true when that was the last open printer, and the I/O thread should now stop. When it was
    // the printer's last file, returns only once its descriptor is closed, so that the node can be opened again.
    bool fileClosed(std::unique_lock<std::mutex> &lock, const std::shared_ptr<UsblpDevice> &device);
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
    // With the lock held: opens the printer's node and lists the new device, starting the I/O thread.
    std::shared_ptr<UsblpDevice> openNode(const std::string &name, platform::Pipe &pipe, DWORD &error);
    // With the lock held: the printer's writer thread; false when it cannot run.
    bool startWriter(const std::shared_ptr<UsblpDevice> &device);
    void runIo();
    void noticeRemovals(const std::vector<std::string> &syspaths, Completions &done);
    // With the lock held: closes the descriptors of forgotten printers whose writer has left them, where no poll()
    // holds them. A poll keeps a reference to every file it waits on until it returns (__pollwait's get_file,
    // poll_freewait's fput in fs/select.c), and usblp_release runs only after the last: a close() beside the I/O
    // thread's poll would leave the node refusing opens with EBUSY until that poll happened to return. So a
    // descriptor the I/O thread may be polling is closed by that thread, after its poll returned. Nor is one closed
    // while its writer may still be in write() on it: the number could be reused by the next open meanwhile.
    void closeRetired();
    // With the lock held, where nothing polls: waits, letting the lock go, until every retired writer ended, and
    // closes their descriptors.
    void closeRetiredOnceWritersEnded(std::unique_lock<std::mutex> &lock);
    // Whether a writer, open or retired, has still to be interrupted out of the driver.
    bool awaitsInterrupt() const;

    std::mutex mutex_;
    // The printers open in this process and still present.
    std::vector<std::shared_ptr<UsblpDevice>> devices_;
    // Printers forgotten whose descriptor the I/O thread is to close.
    std::vector<std::shared_ptr<UsblpDevice>> retired_;
    // One condition for every change waited for (the I/O thread's end or stop, a retired descriptor closed, a writer
    // ended), so that a wait for several of them rechecks them all at once.
    std::condition_variable changed_;
    std::thread::id ioThreadId_;
    Wakeup wakeup_;
    // udev's events, listened to from before the first printer's lookup to the I/O thread's end: a printer unplugged
    // as it is opened must not go unnoticed while the thread starts (usblp tells nothing of an unplug until a
    // request meets ENODEV).
    std::unique_ptr<UdevMonitor> monitor_;
    BackendThread ioThread_{changed_};
};

}  // namespace linuxdev
