// One simulated printer: identity, what it has received and has to send, its stall and refusal settings, and the
// requests its driver holds. Everything but the identity is guarded by the bus's lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/io_request.h"
#include "kernel/time_scale.h"
#include "sim/bus.h"
#include "sim/driver.h"
#include "sim/effects.h"
#include "sim/pending_io.h"
#include "sim/stream.h"

namespace sim {

class Printer : public std::enable_shared_from_this<Printer> {
public:
    Printer(std::mutex &busLock, int id, const PrinterSetup &setup, const std::string &instance);

    const int id;
    const Transport transport;
    const std::string path;
    const GUID interfaceClass;
    const Driver &driver;

    // Guarded by the bus's lock.
    bool present = true;
    bool removed = false;
    // Changes at every unplug: a handle is live only while the printer is present in the generation it was
    // opened in.
    unsigned generation = 1;
    std::deque<uint8_t> toHost;
    std::deque<uint8_t> fromHost;
    COMMTIMEOUTS timeouts;
    bool stalled = false;
    bool refuseOpens = false;
    ErrorCodes codes;
    std::deque<PendingIo> reads;
    std::deque<PendingIo> writes;
    // Cancelled requests that end with ERROR_OPERATION_ABORTED at their deadline (a slow cancel).
    std::deque<PendingIo> cancelling;
    int openFiles = 0;
    PrinterModel model;
    WriteGate writeGate;

    // Habits of real drivers, off by default but for completeAtOnce.
    // A read that finds bytes waiting ends inside ReadFile; off, every read pends first.
    bool completeAtOnce = true;
    // Every n-th read ends with 0 bytes, at once (0: none).
    unsigned zeroLengthEvery = 0;
    unsigned readsStarted = 0;
    // How long a cancelled request takes to end, before the time scale; 0 ends it inside the cancel.
    DWORD cancelDelay = 0;
    // Cancels are ignored: requests end at the file's cleanup, at unplug, or normally.
    bool ignoreCancel = false;
    Stream stream;

    // The rest runs with the bus's lock held, unless noted.
    // `file` names the open file the request came through.
    void startRead(const std::shared_ptr<platform::IoRequest> &request, const void *file, Effects &effects);
    void startWrite(const std::shared_ptr<platform::IoRequest> &request, const void *file, Effects &effects);
    // Ends whatever can end now.
    void serve(platform::Clock::time_point now, Effects &effects);
    // Lets a streaming printer top up the bytes waiting for the host to `count`, as far as its stream goes.
    void offerToHost(size_t count);
    // Hands the oldest `count` bytes for the host to a read and completes it.
    void fillRead(const PendingIo &read, DWORD count, Effects &effects);
    // Drops the bytes waiting for the host.
    void clearToHost();
    // How many bytes of its streams the host has been handed.
    uint64_t streamTaken() const { return stream.produced() - streamWaiting_; }
    size_t heldRequests(platform::IoKind kind) const;
    void endReads(DWORD error, Effects &effects);
    void endWrites(DWORD error, Effects &effects);
    // The cleanup of an open file whose last handle was closed: whatever it still has in flight ends.
    void endRequestsOf(const void *file, DWORD error, Effects &effects);
    // True when the request was still held (it then ends with ERROR_OPERATION_ABORTED, after cancelDelay) and the
    // printer does not ignore cancels.
    bool cancel(platform::IoRequest &request, Effects &effects);
    void unplug(Effects &effects);
    void replug();
    platform::Clock::time_point nextDeadline() const;
    // Without the bus's lock: passes queued written bytes to the model, in order, one thread at a time.
    void feedModel();

private:
    void accept(const platform::IoRequest &write, Effects &effects);
    void serveWrites(platform::Clock::time_point now, Effects &effects);
    void serveCancelling(platform::Clock::time_point now, Effects &effects);
    bool zeroLengthDue();
    // Not stalled, and the write gate, if any, takes the write.
    bool takesWrite(const platform::IoRequest &write) const;

    std::mutex &busLock_;
    std::deque<std::vector<uint8_t>> modelQueue_;
    bool modelBusy_ = false;
    // Stream bytes produced but still waiting in toHost: always its newest ones.
    size_t streamWaiting_ = 0;
};

}  // namespace sim
