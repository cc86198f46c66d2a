#include "emulated_usblp_node.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

extern "C" int __real_open(const char *path, int flags, ...);
extern "C" int __real_close(int fd);
extern "C" ssize_t __real_read(int fd, void *buffer, size_t count);
extern "C" ssize_t __real_write(int fd, const void *buffer, size_t count);
extern "C" int __real_poll(pollfd *fds, nfds_t count, int timeout);

namespace linuxdev_test {
namespace {

// USBLP_BUF_SIZE: the most one write transfer carries.
constexpr size_t TRANSFER_LIMIT = 8192;
// What the printer buffers before it stops taking transfers.
constexpr size_t PRINTER_BUFFER = 65536;

std::mutex &emulationMutex() {
    static std::mutex mutex;
    return mutex;
}

// Notified at every change the printer's side or a blocking writer may wait for.
std::condition_variable &emulationChanged() {
    static std::condition_variable changed;
    return changed;
}

// The wake-up descriptors of everyone waiting on a node, a writer blocked in its write or a poll(): one each, as each
// sleeper has its own entry on the driver's wait queues (poll_wait adds one per poll call, fs/select.c), so that one
// waiter taking its wake-up leaves the others theirs. A change rings them all.
std::vector<int> &waiters() {
    static std::vector<int> wakes;
    return wakes;
}

// Wake-up descriptors no waiter holds now. Kept for the next rather than closed: a number closed here and opened
// again by another thread (libudev's, umockdev's) would be reused with nothing ordering the two.
std::vector<int> &idleWakes() {
    static std::vector<int> wakes;
    return wakes;
}

int addWaiter() {
    int wake = -1;
    if (idleWakes().empty()) {
        wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    } else {
        wake = idleWakes().back();
        idleWakes().pop_back();
    }
    waiters().push_back(wake);
    return wake;
}

void removeWaiter(int wake) {
    auto &wakes = waiters();
    wakes.erase(std::find(wakes.begin(), wakes.end(), wake));
    uint64_t count = 0;
    (void)__real_read(wake, &count, sizeof count);
    idleWakes().push_back(wake);
}

// usblp_wwait sleeps interruptibly: a signal to the waiting thread ends the wait (usblp_wtest: signal_pending gives
// -EINTR). The emulation waits in poll(), which a signal ends with EINTR whatever its handler's flags (signal(7)).
// Returns false when a signal ended the wait; with the lock held either way.
template <typename Condition>
bool waitInterruptibly(std::unique_lock<std::mutex> &lock, Condition done) {
    if (done()) return true;
    int wake = addWaiter();
    bool interrupted = false;
    while (!done()) {
        lock.unlock();
        pollfd ring{wake, POLLIN, 0};
        int got = __real_poll(&ring, 1, -1);
        int error = errno;
        lock.lock();
        if (got < 0 && error == EINTR) {
            interrupted = true;
            break;
        }
        uint64_t count = 0;
        (void)__real_read(wake, &count, sizeof count);
    }
    removeWaiter(wake);
    return !interrupted;
}

std::map<std::string, std::shared_ptr<EmulatedUsblpNode>> &nodesByPath() {
    static std::map<std::string, std::shared_ptr<EmulatedUsblpNode>> nodes;
    return nodes;
}

// The kernel's struct file on the node: it outlives the descriptor while a poller holds it.
struct NodeFile {
    std::shared_ptr<EmulatedUsblpNode> node;
    bool nonblocking = false;
    bool closed = false;
    int pollers = 0;
};

std::map<int, std::shared_ptr<NodeFile>> &filesByDescriptor() {
    static std::map<int, std::shared_ptr<NodeFile>> files;
    return files;
}

std::shared_ptr<NodeFile> fileOf(int fd) {
    auto found = filesByDescriptor().find(fd);
    return found != filesByDescriptor().end() ? found->second : nullptr;
}

}  // namespace

struct EmulatedUsblpNode::Access {
    static int open(EmulatedUsblpNode &node, const char *path, int flags, mode_t mode);
    static void dropReference(NodeFile &file);
    static ssize_t read(EmulatedUsblpNode &node, int fd, void *buffer, size_t count,
                        std::unique_lock<std::mutex> &lock);
    static ssize_t write(EmulatedUsblpNode &node, bool nonblocking, const void *buffer, size_t count,
                         std::unique_lock<std::mutex> &lock);
    static short readiness(const EmulatedUsblpNode &node, short events) { return node.readiness(events); }
    static bool isGone(const EmulatedUsblpNode &node) { return node.gone_; }
    static void countPoller(EmulatedUsblpNode &node, int change) { node.pollers_ += change; }
};

EmulatedUsblpNode::EmulatedUsblpNode(std::string devnode) : devnode_(std::move(devnode)) {}

EmulatedUsblpNode::~EmulatedUsblpNode() = default;

std::shared_ptr<EmulatedUsblpNode> EmulatedUsblpNode::plug(const std::string &devnode) {
    auto node = std::make_shared<EmulatedUsblpNode>(devnode);
    std::lock_guard<std::mutex> guard(emulationMutex());
    nodesByPath()[devnode] = node;
    return node;
}

void EmulatedUsblpNode::unplug() {
    std::lock_guard<std::mutex> guard(emulationMutex());
    // usblp_disconnect: present = 0, and the transfers killed end, so that waiters see POLLIN and POLLOUT.
    gone_ = true;
    inFlight_ = false;
    transfer_.clear();
    nodesByPath().erase(devnode_);
    changed();
}

bool EmulatedUsblpNode::isInUse() const {
    std::lock_guard<std::mutex> guard(emulationMutex());
    return used_;
}

void EmulatedUsblpNode::changed() {
    emulationChanged().notify_all();
    uint64_t one = 1;
    for (int wake : waiters()) {
        ssize_t put = __real_write(wake, &one, sizeof one);
        (void)put;
    }
}

// usblp_bulk_write: the transfer ends when the printer took it, or with its error (wstatus < 0); wcomplete wakes
// the writers and pollers.
void EmulatedUsblpNode::takeTransfer() {
    if (!inFlight_ || held_ || delivered_.size() + transfer_.size() > PRINTER_BUFFER) return;
    if (transferDoomed_) {
        transferDoomed_ = false;
        transferFailed_ = true;
        transfer_.clear();
        inFlight_ = false;
        changed();
        return;
    }
    delivered_ += transfer_;
    transfer_.clear();
    inFlight_ = false;
    changed();
}

// usblp_release, once the last reference to the file is gone: the node is free, the transfer in flight killed.
void EmulatedUsblpNode::release() {
    used_ = false;
    inFlight_ = false;
    transfer_.clear();
    readFails_ = false;
    writeFails_ = false;
    transferDoomed_ = false;
    transferFailed_ = false;
    zeroLengthPacket_ = false;
    stopPending_ = false;
    changed();
}

// usblp_poll: POLLIN with rcomplete, POLLOUT with wcomplete; the terminal's own bytes are added by the caller.
short EmulatedUsblpNode::readiness(short events) const {
    short ready = 0;
    if (gone_ || readFails_ || zeroLengthPacket_) ready |= POLLIN;
    if (gone_ || !inFlight_) ready |= POLLOUT;
    return static_cast<short>(ready & events);
}

bool EmulatedUsblpNode::receive(std::string &bytes, size_t count, int boundMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    std::unique_lock<std::mutex> lock(emulationMutex());
    while (bytes.size() < count) {
        if (delivered_.empty()) {
            if (emulationChanged().wait_until(lock, end) == std::cv_status::timeout && delivered_.empty()) return false;
            continue;
        }
        size_t take = std::min(delivered_.size(), count - bytes.size());
        bytes += delivered_.substr(0, take);
        delivered_.erase(0, take);
        takeTransfer();
    }
    return true;
}

std::string EmulatedUsblpNode::takeWritten(int waitMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock<std::mutex> lock(emulationMutex());
    emulationChanged().wait_until(lock, end, [this] { return !delivered_.empty(); });
    std::string bytes;
    bytes.swap(delivered_);
    takeTransfer();
    return bytes;
}

void EmulatedUsblpNode::holdTransfers(bool held) {
    std::lock_guard<std::mutex> guard(emulationMutex());
    held_ = held;
    takeTransfer();
}

bool EmulatedUsblpNode::isPolled() const {
    std::lock_guard<std::mutex> guard(emulationMutex());
    return pollers_ > 0;
}

bool EmulatedUsblpNode::hasTransferInFlight() const {
    std::lock_guard<std::mutex> guard(emulationMutex());
    return inFlight_;
}

void EmulatedUsblpNode::failNextRead() {
    std::lock_guard<std::mutex> guard(emulationMutex());
    readFails_ = true;
    changed();
}

void EmulatedUsblpNode::failNextWrite() {
    std::lock_guard<std::mutex> guard(emulationMutex());
    writeFails_ = true;
}

void EmulatedUsblpNode::stopAndContinue() {
    std::lock_guard<std::mutex> guard(emulationMutex());
    stopPending_ = true;
    changed();
}

void EmulatedUsblpNode::sendZeroLengthPacket() {
    std::lock_guard<std::mutex> guard(emulationMutex());
    zeroLengthPacket_ = true;
    changed();
}

int EmulatedUsblpNode::Access::open(EmulatedUsblpNode &node, const char *path, int flags, mode_t mode) {
    if (node.used_) {
        errno = EBUSY;
        return -1;
    }
    int fd = __real_open(path, flags, mode);
    if (fd < 0) return fd;
    // usblp_open: wcomplete = 1, rcomplete = 0, a read submitted.
    node.used_ = true;
    auto file = std::make_shared<NodeFile>();
    file->node = node.shared_from_this();
    file->nonblocking = (flags & O_NONBLOCK) != 0;
    filesByDescriptor()[fd] = file;
    return fd;
}

void EmulatedUsblpNode::Access::dropReference(NodeFile &file) {
    if (file.closed && file.pollers == 0) file.node->release();
}

ssize_t EmulatedUsblpNode::Access::read(EmulatedUsblpNode &node, int fd, void *buffer, size_t count,
                                        std::unique_lock<std::mutex> &lock) {
    if (node.gone_) {
        errno = ENODEV;
        return -1;
    }
    if (node.readFails_) {
        node.readFails_ = false;
        errno = EIO;
        return -1;
    }
    if (node.zeroLengthPacket_) {
        node.zeroLengthPacket_ = false;
        return 0;
    }
    // A blocking read of the terminal waits for the printer, which needs the lock to take what the host wrote.
    lock.unlock();
    return __real_read(fd, buffer, count);
}

ssize_t EmulatedUsblpNode::Access::write(EmulatedUsblpNode &node, bool nonblocking, const void *buffer, size_t count,
                                         std::unique_lock<std::mutex> &lock) {
    const auto *bytes = static_cast<const char *>(buffer);
    // usblp_write: wait for the write path to come idle first, then one transfer at a time; what it returns after an
    // error is the count of the transfers before it, or the error when there were none (collect_error).
    auto idle = [&node] { return node.gone_ || !node.inFlight_; };
    auto fail = [](size_t written, int error) {
        if (written > 0) return static_cast<ssize_t>(written);
        errno = error;
        return static_cast<ssize_t>(-1);
    };
    // usblp_wtest asks for a signal before it looks at the write path: a stop ends even a wait that is over.
    auto waitForIdle = [&] {
        bool woken = waitInterruptibly(lock, [&] { return idle() || node.stopPending_; });
        bool stopped = node.stopPending_;
        node.stopPending_ = false;
        return woken && !stopped;
    };
    if (nonblocking && !idle()) return fail(0, EAGAIN);
    if (!waitForIdle()) return fail(0, EINTR);
    size_t written = 0;
    while (written < count && !node.gone_) {
        size_t length = std::min(TRANSFER_LIMIT, count - written);
        node.transfer_.assign(bytes + written, length);
        node.inFlight_ = true;
        node.transferFailed_ = false;
        node.transferDoomed_ = node.writeFails_;
        node.writeFails_ = false;
        node.takeTransfer();
        // "Presume that it's going to complete well": its end, and its error, are never reported.
        if (nonblocking) return static_cast<ssize_t>(length);
        // Interrupted, the transfer is left in flight ("Leave URB dangling, to be cleaned on close").
        if (!waitForIdle()) return fail(written, EINTR);
        if (node.gone_) break;
        if (node.transferFailed_) return fail(written, EIO);
        written += length;
    }
    if (node.gone_) return fail(written, ENODEV);
    return static_cast<ssize_t>(written);
}

int descriptorsOn(const std::string &target) {
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (dirent *entry = readdir(fds)) {
        char name[PATH_MAX] = {};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t length = readlink(link.c_str(), name, sizeof name - 1);
        if (length > 0 && target == std::string(name, static_cast<size_t>(length))) ++count;
    }
    closedir(fds);
    return count;
}

}  // namespace linuxdev_test

using linuxdev_test::EmulatedUsblpNode;
using linuxdev_test::NodeFile;

extern "C" int __wrap_open(const char *path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    using namespace linuxdev_test;
    // Held across the check and the open, so that of two opens racing only one finds the node free.
    std::lock_guard<std::mutex> guard(emulationMutex());
    auto found = path != nullptr ? nodesByPath().find(path) : nodesByPath().end();
    if (found == nodesByPath().end()) return __real_open(path, flags, mode);
    return EmulatedUsblpNode::Access::open(*found->second, path, flags, mode);
}

extern "C" int __wrap_close(int fd) {
    using namespace linuxdev_test;
    {
        std::lock_guard<std::mutex> guard(emulationMutex());
        std::shared_ptr<NodeFile> file = fileOf(fd);
        if (file) {
            filesByDescriptor().erase(fd);
            file->closed = true;
            EmulatedUsblpNode::Access::dropReference(*file);
        }
    }
    return __real_close(fd);
}

extern "C" ssize_t __wrap_read(int fd, void *buffer, size_t count) {
    using namespace linuxdev_test;
    std::unique_lock<std::mutex> lock(emulationMutex());
    std::shared_ptr<NodeFile> file = fileOf(fd);
    if (!file) {
        lock.unlock();
        return __real_read(fd, buffer, count);
    }
    return EmulatedUsblpNode::Access::read(*file->node, fd, buffer, count, lock);
}

extern "C" ssize_t __wrap_write(int fd, const void *buffer, size_t count) {
    using namespace linuxdev_test;
    std::unique_lock<std::mutex> lock(emulationMutex());
    std::shared_ptr<NodeFile> file = fileOf(fd);
    if (!file) {
        lock.unlock();
        return __real_write(fd, buffer, count);
    }
    return EmulatedUsblpNode::Access::write(*file->node, file->nonblocking, buffer, count, lock);
}

namespace linuxdev_test {
namespace {

// One poll() over a set that holds emulated nodes: the kernel's poll on the rest, each node's terminal for the
// printer's bytes and its wake-up descriptor, and the node's own readiness.
class NodePoll {
public:
    NodePoll(pollfd *fds, nfds_t count) : fds_(fds), count_(count), files_(count) {
        std::lock_guard<std::mutex> guard(emulationMutex());
        for (nfds_t i = 0; i < count_; ++i) {
            files_[i] = fileOf(fds_[i].fd);
            if (!files_[i]) continue;
            ++files_[i]->pollers;
            EmulatedUsblpNode::Access::countPoller(*files_[i]->node, 1);
        }
        if (holdsNodes()) wake_ = addWaiter();
    }

    // poll_freewait: the references taken for the wait go as poll returns.
    ~NodePoll() {
        std::lock_guard<std::mutex> guard(emulationMutex());
        if (wake_ >= 0) removeWaiter(wake_);
        for (auto &file : files_) {
            if (!file) continue;
            --file->pollers;
            EmulatedUsblpNode::Access::countPoller(*file->node, -1);
            EmulatedUsblpNode::Access::dropReference(*file);
        }
    }

    bool holdsNodes() const {
        return std::any_of(files_.begin(), files_.end(), [](const auto &file) { return file != nullptr; });
    }

    int run(int timeout) {
        for (;;) {
            std::vector<pollfd> real(fds_, fds_ + count_);
            int ready = nodeReadiness(real);
            int got = __real_poll(real.data(), real.size(), ready > 0 ? 0 : timeout);
            if (got < 0) return got;
            int reported = report(real);
            if (reported > 0 || got == 0) return reported;
            // Only the wake-up fired, for a change this poll does not wait for.
        }
    }

private:
    // Adds this poll's own wake-up descriptor; a node's terminal is asked only for the printer's bytes. Returns how
    // many entries the node alone makes ready now.
    int nodeReadiness(std::vector<pollfd> &real) {
        std::lock_guard<std::mutex> guard(emulationMutex());
        int ready = 0;
        for (nfds_t i = 0; i < count_; ++i) {
            if (!files_[i]) continue;
            const EmulatedUsblpNode &node = *files_[i]->node;
            real[i].events = static_cast<short>(fds_[i].events & POLLIN);
            // A gone node's terminal hangs up, which poll would report whatever it was asked.
            if (EmulatedUsblpNode::Access::isGone(node)) real[i].fd = -1;
            if (EmulatedUsblpNode::Access::readiness(node, fds_[i].events) != 0) ++ready;
        }
        real.push_back(pollfd{wake_, POLLIN, 0});
        return ready;
    }

    int report(const std::vector<pollfd> &real) {
        std::lock_guard<std::mutex> guard(emulationMutex());
        int reported = 0;
        for (size_t i = count_; i < real.size(); ++i) {
            uint64_t count = 0;
            if ((real[i].revents & POLLIN) != 0) (void)__real_read(real[i].fd, &count, sizeof count);
        }
        for (nfds_t i = 0; i < count_; ++i) {
            short revents = real[i].revents;
            if (files_[i]) {
                const EmulatedUsblpNode &node = *files_[i]->node;
                // The terminal's hang-up and errors are not usblp's: it reports only POLLIN and POLLOUT.
                revents = EmulatedUsblpNode::Access::isGone(node) ? 0 : static_cast<short>(revents & POLLIN);
                revents |= EmulatedUsblpNode::Access::readiness(node, fds_[i].events);
            }
            fds_[i].revents = revents;
            if (revents != 0) ++reported;
        }
        return reported;
    }

    pollfd *fds_;
    nfds_t count_;
    std::vector<std::shared_ptr<NodeFile>> files_;
    // Rung at every change of a node, for this poll alone.
    int wake_ = -1;
};

}  // namespace
}  // namespace linuxdev_test

extern "C" int __wrap_poll(pollfd *fds, nfds_t count, int timeout) {
    linuxdev_test::NodePoll poll(fds, count);
    if (!poll.holdsNodes()) return __real_poll(fds, count, timeout);
    return poll.run(timeout);
}
