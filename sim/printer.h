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
    int openFiles = 0;
    PrinterModel model;

    // The rest runs with the bus's lock held, unless noted.
    void startRead(const std::shared_ptr<platform::IoRequest> &request, Effects &effects);
    void startWrite(const std::shared_ptr<platform::IoRequest> &request, Effects &effects);
    // Ends whatever can end now.
    void serve(platform::Clock::time_point now, Effects &effects);
    // Hands the oldest `count` bytes for the host to a read and completes it.
    void fillRead(const PendingIo &read, DWORD count, Effects &effects);
    void endReads(DWORD error, Effects &effects);
    void endWrites(DWORD error, Effects &effects);
    // True when the request was still held (it then ends with ERROR_OPERATION_ABORTED).
    bool cancel(platform::IoRequest &request, Effects &effects);
    void unplug(Effects &effects);
    void replug();
    platform::Clock::time_point nextDeadline() const;
    // Without the bus's lock: passes queued written bytes to the model, in order, one thread at a time.
    void feedModel();

private:
    void accept(const platform::IoRequest &write, Effects &effects);
    void serveWrites(platform::Clock::time_point now, Effects &effects);

    std::mutex &busLock_;
    std::deque<std::vector<uint8_t>> modelQueue_;
    bool modelBusy_ = false;
};

}  // namespace sim
