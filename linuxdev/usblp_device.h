// One usblp printer opened by this process: the one descriptor all its handles share (usblp allows a single open)
// and the reads and writes waiting on it. Everything but construction runs with the backend's lock held.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>

#include "files/io_request.h"
#include "linuxdev/completions.h"
#include "linuxdev/shared_device_file.h"
#include "linuxdev/usblp_node.h"

namespace linuxdev {

class UsblpDevice : public SharedDevice {
public:
    // Takes ownership of the open, non-blocking descriptor.
    UsblpDevice(UsblpNode node, int fd);
    ~UsblpDevice() override;
    UsblpDevice(const UsblpDevice &) = delete;
    UsblpDevice &operator=(const UsblpDevice &) = delete;

    const UsblpNode &node() const { return node_; }
    int fd() const { return fd_; }
    bool isGone() const override { return gone_; }
    int openFiles() const { return openFiles_; }
    size_t pendingReads() const { return reads_.size(); }
    void fileOpened() { ++openFiles_; }
    void fileClosed() { --openFiles_; }
    // Hands the descriptor to the backend, which closes it where no poll holds it; -1 once handed.
    int takeDescriptor();
    // Write transfers submitted so far: poll's POLLOUT is about the write path as it was when the set was made.
    unsigned submissions() const { return submissions_; }

    // Tries the transfer at once; otherwise queues it as pending. `file` names the open file it came through.
    void startRead(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done);
    void startWrite(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done);
    // Ends the request with ERROR_OPERATION_ABORTED if it still waits here.
    void cancel(const platform::IoRequest &request, Completions &done) override;
    // Ends every request of that file with `error`.
    void endRequestsOf(const void *file, DWORD error, Completions &done) override;
    // What poll should watch for: POLLIN while reads wait, POLLOUT while writes wait (usblp reports POLLOUT once the
    // write path is idle: no transfer in flight).
    short pollEvents() const;
    // After poll reported `revents` for the descriptor, in a set made when submissions() was `submissionsPolled`.
    void service(short revents, unsigned submissionsPolled, Completions &done);
    // The printer went: requests in flight end with ERROR_DEVICE_NOT_CONNECTED. The backend then closes the
    // descriptor, so that the printer, when it is back, can be opened again.
    void unplug(Completions &done);

private:
    struct Pending {
        std::shared_ptr<platform::IoRequest> request;
        const void *file;
        DWORD done;
    };
    enum class Step { Finished, Waiting, Unplugged };

    // Moves the front read or write as far as the descriptor allows now.
    Step readFront(Completions &done);
    Step writeFront(Completions &done);
    void serveReads(Completions &done);
    void serveWrites(Completions &done);
    void pendOrAbort(std::deque<Pending> &queue, Completions &done);

    const UsblpNode node_;
    int fd_;
    bool gone_ = false;
    int openFiles_ = 0;
    // A write transfer was submitted and poll has not yet reported the write path idle since.
    bool transferInFlight_ = false;
    unsigned submissions_ = 0;
    std::deque<Pending> reads_;
    std::deque<Pending> writes_;
};

}  // namespace linuxdev
