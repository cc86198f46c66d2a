// One usblp printer opened by this process: the one descriptor all its handles share (usblp allows a single open)
// and the reads and writes waiting on it. Everything but construction runs with the backend's lock held.
//
// The descriptor is blocking. Reads go through the I/O thread's poll and are made only when usblp says a read
// transfer ended, so that they never block. Writes go through the printer's own writer thread in blocking write()s:
// only there does usblp wait for each transfer and report how it ended (usblp_write's step 2 checks wstatus); in
// O_NONBLOCK it returns before the transfer ends ("Presume that it's going to complete well") and its result is lost,
// so a transfer the printer failed would be reported as written. A write blocked in the driver is ended by
// WriteInterrupt, for a cancel, a close or an unplug.
#pragma once

#include <windows.h>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "files/io_request.h"
#include "linuxdev/completions.h"
#include "linuxdev/shared_device_file.h"
#include "linuxdev/usblp_node.h"
#include "linuxdev/wakeup.h"

namespace linuxdev {

class UsblpDevice : public SharedDevice {
public:
    // Takes ownership of the open descriptor. `ioWakeup` wakes the I/O thread, which sends a writer's interrupt again
    // until it took effect.
    UsblpDevice(UsblpNode node, int fd, Wakeup &ioWakeup);
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

    // Tries the transfer at once; otherwise queues it as pending. `file` names the open file it came through.
    void startRead(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done);
    void startWrite(const std::shared_ptr<platform::IoRequest> &request, const void *file, Completions &done);
    // Ends the request with ERROR_OPERATION_ABORTED if it still waits here.
    void cancel(const platform::IoRequest &request, Completions &done) override;
    // Ends every request of that file with `error`.
    void endRequestsOf(const void *file, DWORD error, Completions &done) override;
    // What poll should watch for: POLLIN while reads wait.
    short pollEvents() const;
    // After poll reported `revents` for the descriptor.
    void service(short revents, Completions &done);
    // The printer went: requests in flight end with ERROR_DEVICE_NOT_CONNECTED. The backend then closes the
    // descriptor, so that the printer, when it is back, can be opened again.
    void unplug(Completions &done);

    // The writer thread's loop, entered with the lock held: puts the queued writes through the descriptor one by one
    // until stopWriter(). Returns with the lock held.
    void runWriter(std::unique_lock<std::mutex> &lock);
    // The writer must end: queued writes were ended by the close; one blocked in the driver is interrupted.
    void stopWriter();
    bool writerEnded() const { return writerEnded_; }
    // Whether a write blocked in the driver must still be interrupted, and sending the interrupt again.
    bool awaitsInterrupt() const { return interruptError_ != 0 && writing_; }
    void interruptAgain();

private:
    struct Pending {
        std::shared_ptr<platform::IoRequest> request;
        const void *file;
        DWORD done;
    };
    enum class Step { Finished, Waiting, Unplugged };
    // How a blocking write of the writer thread ended.
    enum class Outcome { Written, Interrupted, Failed, Unplugged };

    // Moves the front read as far as the descriptor allows now.
    Step readFront(Completions &done);
    void serveReads(Completions &done);
    void pendOrAbort(std::deque<Pending> &queue, Completions &done);
    // On the writer thread without the lock: the whole request, transfer by transfer, as usblp reports it.
    Outcome putThrough(int fd, const platform::IoRequest &request, DWORD &written);
    // With the lock held: ends the front write with `outcome`, or with the interrupt's reason.
    void finishWrite(Outcome outcome, DWORD written, Completions &done);
    // The front write is blocked in the driver: end it for `error`.
    void interruptWrite(DWORD error);

    const UsblpNode node_;
    int fd_;
    Wakeup &ioWakeup_;
    bool gone_ = false;
    int openFiles_ = 0;
    std::deque<Pending> reads_;
    // The front write is the writer thread's while `writing_`: only it ends that request.
    std::deque<Pending> writes_;
    std::condition_variable writeQueued_;
    bool writing_ = false;
    bool writerStopping_ = false;
    bool writerEnded_ = false;
    pthread_t writerThread_{};
    // Why the write blocked in the driver must end (ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED), or 0. The
    // writer reads it between its calls without the lock.
    std::atomic<DWORD> interruptError_{0};
};

}  // namespace linuxdev
