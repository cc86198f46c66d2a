#include "linuxdev/usblp_device.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace linuxdev {
namespace {

// The one error by which usblp says the printer is no longer there (usblp_rtest and usblp_wtest: !present). EIO is a
// failed transfer of a printer still there (usblp_read: rstatus < 0, the read resubmitted; a CRC error, babble, a
// stalled endpoint), which the next read may well get past.
bool meansUnplugged(int error) { return error == ENODEV; }

bool meansTryLater(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

UsblpDevice::UsblpDevice(UsblpNode node, int fd) : node_(std::move(node)), fd_(fd) {}

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
    writes_.push_back(Pending{request, file, 0});
    if (writes_.size() == 1) serveWrites(done);
    if (!writes_.empty() && writes_.back().request == request) pendOrAbort(writes_, done);
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
            done.add(it->request, error, it->done);
            it = queue->erase(it);
        }
    }
}

short UsblpDevice::pollEvents() const {
    short events = 0;
    if (!reads_.empty()) events |= POLLIN;
    if (!writes_.empty()) events |= POLLOUT;
    return events;
}

void UsblpDevice::service(short revents, unsigned submissionsPolled, Completions &done) {
    // usblp_poll reports only POLLIN and POLLOUT; a vanished printer shows as ENODEV on the request that waited. A
    // hang-up or an error could not be waited on again: should a descriptor ever report one, it is taken for gone
    // rather than polled in a loop.
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        unplug(done);
        return;
    }
    // POLLOUT says the write path is idle, unless a transfer was submitted after poll looked.
    if ((revents & POLLOUT) != 0 && submissionsPolled == submissions_) transferInFlight_ = false;
    if ((revents & POLLIN) != 0) serveReads(done);
    if ((revents & POLLOUT) != 0) serveWrites(done);
}

void UsblpDevice::unplug(Completions &done) {
    gone_ = true;
    for (std::deque<Pending> *queue : {&reads_, &writes_}) {
        for (Pending &p : *queue) done.add(p.request, ERROR_DEVICE_NOT_CONNECTED, p.done);
        queue->clear();
    }
}

void UsblpDevice::serveReads(Completions &done) {
    while (!reads_.empty()) {
        Step step = readFront(done);
        if (step == Step::Unplugged) return unplug(done);
        if (step == Step::Waiting) return;
    }
}

void UsblpDevice::serveWrites(Completions &done) {
    while (!writes_.empty()) {
        Step step = writeFront(done);
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

UsblpDevice::Step UsblpDevice::writeFront(Completions &done) {
    Pending &front = writes_.front();
    const auto *bytes = static_cast<const unsigned char *>(front.request->buffer());
    while (front.done < front.request->length()) {
        ssize_t put = ::write(fd_, bytes + front.done, front.request->length() - front.done);
        if (put > 0) {
            front.done += static_cast<DWORD>(put);
            transferInFlight_ = true;
            ++submissions_;
            continue;
        }
        if (put < 0 && meansTryLater(errno)) return Step::Waiting;
        if (put < 0 && meansUnplugged(errno)) return Step::Unplugged;
        done.add(front.request, ERROR_GEN_FAILURE, front.done);
        writes_.pop_front();
        return Step::Finished;
    }
    // In O_NONBLOCK usblp's write returns once it submitted the transfer ("Presume that it's going to complete well"
    // in usblp_write), and the last close kills a transfer still in flight (usblp_release). As a write to the
    // printer class driver on Windows, the request ends when its last transfer has: when poll says the write path
    // is idle.
    if (transferInFlight_) return Step::Waiting;
    done.add(front.request, ERROR_SUCCESS, front.done);
    writes_.pop_front();
    return Step::Finished;
}

}  // namespace linuxdev
