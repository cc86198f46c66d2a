#include "linuxdev/usblp_device.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "linuxdev/write_interrupt.h"

namespace linuxdev {
namespace {

// The one error by which usblp says the printer is no longer there (usblp_rtest and usblp_wtest: !present). EIO is a
// failed transfer of a printer still there (usblp_read: rstatus < 0, the read resubmitted; a CRC error, babble, a
// stalled endpoint), which the next read may well get past.
bool meansUnplugged(int error) { return error == ENODEV; }

bool meansTryLater(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Whether usblp has a read transfer's end to hand over: then read() returns at once on the blocking descriptor.
bool readEnded(int fd) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}

}  // namespace

UsblpDevice::UsblpDevice(UsblpNode node, int fd, Wakeup &ioWakeup)
    : node_(std::move(node)), fd_(fd), ioWakeup_(ioWakeup) {}

UsblpDevice::~UsblpDevice() {
    if (fd_ >= 0) ::close(fd_);
}

int UsblpDevice::takeDescriptor() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UsblpDevice::startRead(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done) {
    // A read behind others waits its turn, so that bytes reach the requests in the order they were issued.
    reads_.push_back(Pending{request, file, 0});
    if (reads_.size() == 1) serveReads(done);
    if (!reads_.empty() && reads_.back().request == request) pendOrAbort(reads_, done);
}

void UsblpDevice::startWrite(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done) {
    // Even a write of nothing waits behind the others, as it would in the driver's queue.
    writes_.push_back(Pending{request, file, 0});
    pendOrAbort(writes_, done);
    writeQueued_.notify_one();
}

// The newest request could not end inside its start: it pends, unless a cancel came first.
void UsblpDevice::pendOrAbort(std::deque<Pending> &queue, Completions &done) {
    Pending &last = queue.back();
    if (last.request->markPending()) return;
    done.add(last.request, ERROR_OPERATION_ABORTED, last.done);
    queue.pop_back();
}

void UsblpDevice::cancel(const platform::IoRequest &request, Completions &done) {
    for (std::deque<Pending> *queue : {&reads_, &writes_}) {
        auto found = std::find_if(queue->begin(), queue->end(),
                                  [&request](const Pending &p) { return p.request.get() == &request; });
        if (found == queue->end()) continue;
        if (queue == &writes_ && found == writes_.begin() && writing_) return interruptWrite(ERROR_OPERATION_ABORTED);
        done.add(found->request, ERROR_OPERATION_ABORTED, found->done);
        queue->erase(found);
        return;
    }
}

void UsblpDevice::endRequestsOf(const void *file, DWORD error, Completions &done) {
    for (std::deque<Pending> *queue : {&reads_, &writes_}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (it->file != file) {
                ++it;
                continue;
            }
            if (queue == &writes_ && it == writes_.begin() && writing_) {
                interruptWrite(error);
                ++it;
                continue;
            }
            done.add(it->request, error, it->done);
            it = queue->erase(it);
        }
    }
}

short UsblpDevice::pollEvents() const { return reads_.empty() ? 0 : POLLIN; }

void UsblpDevice::service(short revents, Completions &done) {
    // usblp_poll reports only POLLIN and POLLOUT; a vanished printer shows as ENODEV on the request that waited. A
    // hang-up or an error could not be waited on again: should a descriptor ever report one, it is taken for gone
    // rather than polled in a loop.
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        unplug(done);
        return;
    }
    if ((revents & POLLIN) != 0) serveReads(done);
}

void UsblpDevice::unplug(Completions &done) {
    gone_ = true;
    for (std::deque<Pending> *queue : {&reads_, &writes_}) {
        // A write blocked in the driver ends with ENODEV on its own (usblp_disconnect wakes it); the interrupt makes
        // sure, and the writer ends that request.
        bool keepFront = queue == &writes_ && writing_;
        if (keepFront) interruptWrite(ERROR_DEVICE_NOT_CONNECTED);
        for (auto it = queue->begin() + (keepFront ? 1 : 0); it != queue->end(); ++it) {
            done.add(it->request, ERROR_DEVICE_NOT_CONNECTED, it->done);
        }
        queue->erase(queue->begin() + (keepFront ? 1 : 0), queue->end());
    }
}

void UsblpDevice::serveReads(Completions &done) {
    while (!reads_.empty()) {
        Step step = readFront(done);
        if (step == Step::Unplugged) return unplug(done);
        if (step == Step::Waiting) return;
    }
}

UsblpDevice::Step UsblpDevice::readFront(Completions &done) {
    Pending &front = reads_.front();
    if (front.request->length() == 0) {
        done.add(front.request, ERROR_SUCCESS, 0);
        reads_.pop_front();
        return Step::Finished;
    }
    if (!readEnded(fd_)) return Step::Waiting;
    // As the USB printer class driver on Windows: a read ends as soon as anything arrived, with what fits.
    ssize_t got = ::read(fd_, front.request->buffer(), front.request->length());
    if (got > 0) {
        done.add(front.request, ERROR_SUCCESS, static_cast<DWORD>(got));
        reads_.pop_front();
        return Step::Finished;
    }
    // End of file is what a hung-up descriptor reads; poll reports the hang-up itself.
    if (got == 0 || meansTryLater(errno)) return Step::Waiting;
    if (meansUnplugged(errno)) return Step::Unplugged;
    done.add(front.request, ERROR_GEN_FAILURE, 0);
    reads_.pop_front();
    return Step::Finished;
}

void UsblpDevice::runWriter(std::unique_lock<std::mutex> &lock) {
    WriteInterrupt::acceptOnlyItOnThisThread();
    writerThread_ = pthread_self();
    for (;;) {
        writeQueued_.wait(lock, [this] { return writerStopping_ || !writes_.empty(); });
        if (writerStopping_) break;
        writing_ = true;
        std::shared_ptr<platform::IoRequest> request = writes_.front().request;
        int fd = fd_;
        lock.unlock();
        DWORD written = 0;
        Outcome outcome = putThrough(fd, *request, written);
        lock.lock();
        writing_ = false;
        Completions done;
        finishWrite(outcome, written, done);
        lock.unlock();
        done.run();
        lock.lock();
    }
    writerEnded_ = true;
}

void UsblpDevice::stopWriter() {
    writerStopping_ = true;
    if (writing_) interruptWrite(ERROR_OPERATION_ABORTED);
    writeQueued_.notify_one();
}

void UsblpDevice::interruptWrite(DWORD error) {
    DWORD none = 0;
    interruptError_.compare_exchange_strong(none, error);
    WriteInterrupt::send(writerThread_);
    // Should this one come too early, the I/O thread's poll, now with a time-out, sends it again.
    ioWakeup_.wake();
}

void UsblpDevice::interruptAgain() {
    if (awaitsInterrupt()) WriteInterrupt::send(writerThread_);
}

UsblpDevice::Outcome UsblpDevice::putThrough(int fd, const platform::IoRequest &request, DWORD &written) {
    const auto *bytes = static_cast<const unsigned char *>(request.buffer());
    while (written < request.length()) {
        // Checked before each call, which narrows the window in which an interrupt comes too early to end it.
        if (interruptError_ != 0) return Outcome::Interrupted;
        size_t asked = request.length() - written;
        ssize_t put = ::write(fd, bytes + written, asked);
        if (put < 0) {
            // EINTR is the interrupt's, which finishWrite reports, or else the process was stopped and continued: a
            // stop signal, too, makes usblp_wtest answer -EINTR, which is not restarted (signal(7), "Interruption of
            // system calls and library functions by stop signals"). Either way the transfer may be left in flight,
            // uncounted: sent again, its bytes would print twice.
            return meansUnplugged(errno) ? Outcome::Unplugged : Outcome::Failed;
        }
        written += static_cast<DWORD>(put);
        if (static_cast<size_t>(put) == asked) continue;
        // A blocking usblp_write returns short only when a transfer failed, a signal came or the printer went, each
        // after the transfers before it succeeded. Asking again would resend what the failed transfer may have
        // partly delivered; a write of nothing only waits for the write path and says whether the printer is there.
        if (interruptError_ != 0) return Outcome::Interrupted;
        if (::write(fd, bytes, 0) < 0 && meansUnplugged(errno)) return Outcome::Unplugged;
        return Outcome::Failed;
    }
    return Outcome::Written;
}

void UsblpDevice::finishWrite(Outcome outcome, DWORD written, Completions &done) {
    Pending front = writes_.front();
    writes_.pop_front();
    DWORD interrupted = interruptError_.exchange(0);
    DWORD error = ERROR_SUCCESS;
    // A write that got through before its interrupt took effect succeeded all the same, as on Windows when the cancel
    // comes too late.
    if (outcome == Outcome::Written) {
        error = ERROR_SUCCESS;
    } else if (interrupted != 0) {
        error = interrupted;
    } else if (outcome == Outcome::Unplugged || gone_) {
        error = ERROR_DEVICE_NOT_CONNECTED;
    } else {
        error = ERROR_GEN_FAILURE;
    }
    done.add(front.request, error, written);
}

}  // namespace linuxdev
