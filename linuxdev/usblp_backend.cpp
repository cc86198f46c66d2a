#include "linuxdev/usblp_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "linuxdev/interface_path.h"
#include "linuxdev/open_error.h"
#include "linuxdev/usblp_file.h"

namespace linuxdev {
namespace {

bool isWithin(const std::string &syspath, const std::string &removed) {
    return syspath == removed || syspath.compare(0, removed.size() + 1, removed + "/") == 0;
}

}  // namespace

UsblpBackend &UsblpBackend::instance() {
    static UsblpBackend *backend = new UsblpBackend;
    return *backend;
}

UsblpBackend::UsblpBackend() = default;

std::shared_ptr<platform::DeviceFile> UsblpBackend::open(const std::string &path, DWORD, DWORD &error) {
    std::string name = platform::canonicalName(path);
    std::unique_lock<std::mutex> lock(mutex_);
    // A thread stopping after the last close must be gone before the next starts. Waited for before the lookup:
    // from it to the new device's listing the lock is not let go, or a second open of the node would meet EBUSY.
    ioEnded_.wait(lock, [this] { return !ioThread_.isStopping(); });
    // Nor may a descriptor of the node wait to be closed: the node would refuse the open with EBUSY.
    retiredClosed_.wait(lock, [this] { return retired_.empty(); });
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
        int fd = ::open(node.devnode.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            error = errorForOpen(errno);
            return nullptr;
        }
        auto device = std::make_shared<UsblpDevice>(node, fd);
        devices_.push_back(device);
        device->fileOpened();
        if (!ioThread_.isRunning()) ioThread_.start([this] { runIo(); });
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

void UsblpBackend::forget(const std::shared_ptr<UsblpDevice> &device) {
    auto found = std::find(devices_.begin(), devices_.end(), device);
    if (found != devices_.end()) devices_.erase(found);
    retire(device->takeDescriptor());
    wakeIoThread();
}

void UsblpBackend::retire(int fd) {
    if (fd < 0) return;
    if (!ioThread_.isRunning() || std::this_thread::get_id() == ioThreadId_) {
        ::close(fd);
        return;
    }
    retired_.push_back(fd);
}

void UsblpBackend::closeRetired() {
    for (int fd : retired_) ::close(fd);
    retired_.clear();
    retiredClosed_.notify_all();
}

bool UsblpBackend::fileClosed(std::unique_lock<std::mutex> &lock, const std::shared_ptr<UsblpDevice> &device) {
    device->fileClosed();
    if (device->openFiles() == 0) {
        forget(device);
        retiredClosed_.wait(lock, [this] { return retired_.empty(); });
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
        std::vector<unsigned> submissions;
        for (const auto &device : polled) {
            fds.push_back(pollfd{device->fd(), device->pollEvents(), 0});
            submissions.push_back(device->submissions());
        }
        lock.unlock();
        int ready = ::poll(fds.data(), fds.size(), -1);
        lock.lock();
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
            device->service(revents, submissions[i], done);
            if (device->isGone()) forget(device);
        }
        lock.unlock();
        done.run();
        lock.lock();
    }
    closeRetired();
    monitor_.reset();
    ioThreadId_ = std::thread::id();
    ioThread_.loopEnded();
}

}  // namespace linuxdev
