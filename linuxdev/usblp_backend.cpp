#include "linuxdev/usblp_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "linuxdev/interface_path.h"
#include "linuxdev/open_error.h"
#include "linuxdev/usblp_file.h"
#include "linuxdev/write_interrupt.h"

namespace linuxdev {
namespace {

bool isWithin(const std::string &syspath, const std::string &removed) {
    return syspath == removed || syspath.compare(0, removed.size() + 1, removed + "/") == 0;
}

// How often an interrupt is sent again to a writer that has not yet left the driver: one that arrived just before
// the writer entered write() interrupted nothing.
constexpr std::chrono::milliseconds INTERRUPT_RETRY{10};

}  // namespace

UsblpBackend &UsblpBackend::instance() {
    static UsblpBackend *backend = new UsblpBackend;
    return *backend;
}

UsblpBackend::UsblpBackend() = default;

std::shared_ptr<platform::DeviceFile> UsblpBackend::open(const std::string &path, DWORD, DWORD &error) {
    std::string name = platform::canonicalName(path);
    std::unique_lock<std::mutex> lock(mutex_);
    // A thread stopping after the last close must be gone before the next starts, or the new printer would be left
    // with no thread to serve it: a stop that began while this open waited would end the thread this open starts.
    // Nor may a descriptor of the node wait to be closed: the node would refuse the open with EBUSY. Both are waited
    // for in one, and before the lookup: from it to the new device's listing the lock is not let go, or a second open
    // of the node would meet EBUSY.
    changed_.wait(lock, [this] { return !ioThread_.isStopping() && retired_.empty(); });
    platform::Pipe pipe = platform::Pipe::Device;
    // usblp takes one open at a time: every handle of the process shares the descriptor already open.
    for (const auto &device : devices_) {
        if (!platform::pipeOf(name, device->node().interfacePath, pipe)) continue;
        device->fileOpened();
        return std::make_shared<UsblpFile>(*this, device, pipe);
    }
    if (!monitor_) monitor_ = std::make_unique<UdevMonitor>();
    std::shared_ptr<UsblpDevice> device = openNode(name, pipe, error);
    // Events the thread's loop will not read would be stale when it next starts.
    if (!ioThread_.isRunning()) monitor_.reset();
    if (!device) return nullptr;
    return std::make_shared<UsblpFile>(*this, device, pipe);
}

std::shared_ptr<UsblpDevice> UsblpBackend::openNode(const std::string &name, platform::Pipe &pipe, DWORD &error) {
    for (const UsblpNode &node : listUsblpNodes()) {
        if (!platform::pipeOf(name, node.interfacePath, pipe)) continue;
        // Blocking: usblp reports a write transfer's end only to a write that waits for it (usblp_device.h).
        int fd = ::open(node.devnode.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            error = errorForOpen(errno);
            return nullptr;
        }
        auto device = std::make_shared<UsblpDevice>(node, fd, wakeup_);
        if (!ioThread_.isRunning()) ioThread_.start([this] { runIo(); });
        // Without either thread a request could wait with nothing to end it.
        if (!ioThread_.isRunning() || !startWriter(device)) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        devices_.push_back(device);
        device->fileOpened();
        wakeIoThread();
        return device;
    }
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::vector<platform::DeviceInterface> UsblpBackend::interfaces(const GUID *interfaceClass, bool) {
    std::vector<platform::DeviceInterface> found;
    // Only the USB printer class's interfaces exist here; the native transport's are not served by usblp.
    if (interfaceClass != nullptr && std::memcmp(interfaceClass, &usbPrintInterfaceClass, sizeof(GUID)) != 0) {
        return found;
    }
    // Listed fresh each time: a printer that went is absent at once, and one that came back is found.
    for (const UsblpNode &node : listUsblpNodes()) {
        found.push_back(platform::DeviceInterface{usbPrintInterfaceClass, node.interfacePath, true});
    }
    return found;
}

bool UsblpBackend::startWriter(const std::shared_ptr<UsblpDevice> &device) {
    if (!WriteInterrupt::install()) return false;
    try {
        platform::startLayerThread([this, device] {
            std::unique_lock<std::mutex> lock(mutex_);
            device->runWriter(lock);
            // The descriptor it wrote to can be closed now.
            changed_.notify_all();
            wakeIoThread();
            platform::markLayerThreadFinished();
        });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void UsblpBackend::forget(const std::shared_ptr<UsblpDevice> &device) {
    auto found = std::find(devices_.begin(), devices_.end(), device);
    if (found != devices_.end()) devices_.erase(found);
    device->stopWriter();
    retired_.push_back(device);
    wakeIoThread();
}

void UsblpBackend::closeRetired() {
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (!(*it)->writerEnded()) {
            ++it;
            continue;
        }
        int fd = (*it)->takeDescriptor();
        if (fd >= 0) ::close(fd);
        it = retired_.erase(it);
    }
    changed_.notify_all();
}

void UsblpBackend::closeRetiredOnceWritersEnded(std::unique_lock<std::mutex> &lock) {
    for (;;) {
        closeRetired();
        if (retired_.empty()) return;
        for (const auto &device : retired_) device->interruptAgain();
        changed_.wait_for(lock, INTERRUPT_RETRY);
    }
}

bool UsblpBackend::awaitsInterrupt() const {
    auto awaits = [](const std::shared_ptr<UsblpDevice> &device) { return device->awaitsInterrupt(); };
    return std::any_of(devices_.begin(), devices_.end(), awaits) ||
           std::any_of(retired_.begin(), retired_.end(), awaits);
}

bool UsblpBackend::fileClosed(std::unique_lock<std::mutex> &lock, const std::shared_ptr<UsblpDevice> &device) {
    device->fileClosed();
    if (device->openFiles() == 0) {
        forget(device);
        // The I/O thread closes it after its poll; without that thread, nothing polls it.
        if (ioThread_.isRunning()) {
            changed_.wait(lock, [this] { return retired_.empty(); });
        } else {
            closeRetiredOnceWritersEnded(lock);
        }
    }
    return devices_.empty();
}

void UsblpBackend::wakeIoThread() { wakeup_.wake(); }

void UsblpBackend::stopIoThread(bool always) {
    platform::LayerThreadId thread = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!always && !devices_.empty()) return;
        thread = ioThread_.stop(lock, wakeup_);
    }
    if (thread != 0) platform::joinLayerThread(thread);
    if (!always) return;
    // At unload the writers of printers still open end too: no thread of the library may run on.
    std::unique_lock<std::mutex> lock(mutex_);
    for (const auto &device : devices_) device->stopWriter();
    for (;;) {
        auto running = [](const std::shared_ptr<UsblpDevice> &device) { return !device->writerEnded(); };
        if (std::none_of(devices_.begin(), devices_.end(), running)) break;
        for (const auto &device : devices_) device->interruptAgain();
        changed_.wait_for(lock, INTERRUPT_RETRY);
    }
    closeRetiredOnceWritersEnded(lock);
}

bool UsblpBackend::holds(const std::string &devnode) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto &device : devices_) {
        if (device->node().devnode == devnode) return true;
    }
    return false;
}

size_t UsblpBackend::openDevices() {
    std::lock_guard<std::mutex> guard(mutex_);
    return devices_.size();
}

size_t UsblpBackend::pendingReads() {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t count = 0;
    for (const auto &device : devices_) count += device->pendingReads();
    return count;
}

bool UsblpBackend::ioThreadRunning() {
    std::lock_guard<std::mutex> guard(mutex_);
    return ioThread_.isRunning();
}

void UsblpBackend::noticeRemovals(const std::vector<std::string> &syspaths, Completions &done) {
    for (const std::string &removed : syspaths) {
        for (const auto &device : std::vector<std::shared_ptr<UsblpDevice>>(devices_)) {
            if (!isWithin(device->node().syspath, removed)) continue;
            device->unplug(done);
            forget(device);
        }
    }
}

void UsblpBackend::runIo() {
    std::unique_lock<std::mutex> lock(mutex_);
    UdevMonitor &monitor = *monitor_;
    ioThreadId_ = std::this_thread::get_id();
    // Ends with the last open printer, or when told to.
    while (!ioThread_.isStopping() && !devices_.empty()) {
        std::vector<pollfd> fds{{wakeup_.fd(), POLLIN, 0}, {monitor.fd(), POLLIN, 0}};
        std::vector<std::shared_ptr<UsblpDevice>> polled = devices_;
        for (const auto &device : polled) fds.push_back(pollfd{device->fd(), device->pollEvents(), 0});
        // Idle, the thread sleeps without a time-out; only a writer yet to leave the driver needs it sooner.
        int timeout = awaitsInterrupt() ? static_cast<int>(INTERRUPT_RETRY.count()) : -1;
        lock.unlock();
        int ready = ::poll(fds.data(), fds.size(), timeout);
        lock.lock();
        for (const auto &device : devices_) device->interruptAgain();
        for (const auto &device : retired_) device->interruptAgain();
        closeRetired();
        if (ready <= 0) continue;
        Completions done;
        if ((fds[0].revents & POLLIN) != 0) wakeup_.drain();
        if ((fds[1].revents & POLLIN) != 0) noticeRemovals(monitor.takeRemovals(), done);
        for (size_t i = 0; i < polled.size(); ++i) {
            const auto &device = polled[i];
            short revents = fds[i + 2].revents;
            // A printer closed or gone while poll ran is no longer this descriptor's owner.
            if (revents == 0 || device->isGone() || device->fd() != fds[i + 2].fd) continue;
            device->service(revents, done);
            if (device->isGone()) forget(device);
        }
        lock.unlock();
        done.run();
        lock.lock();
    }
    closeRetiredOnceWritersEnded(lock);
    monitor_.reset();
    ioThreadId_ = std::thread::id();
    ioThread_.loopEnded();
}

}  // namespace linuxdev
