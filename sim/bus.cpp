// The C++ control API of the simulated bus.
#include "sim/bus.h"

#include <algorithm>

#include "sim/bus_state.h"

namespace sim {
namespace {

using platform::Clock;

// Runs `change` on a known printer with the bus's lock held, then carries out its effects; false for an
// unknown id.
template <class Change>
bool changePrinter(int id, Change change) {
    BusState &bus = BusState::instance();
    Effects effects;
    {
        std::lock_guard<std::mutex> guard(bus.mutex());
        auto printer = bus.find(id);
        if (!printer) return false;
        if (!change(*printer, effects)) return false;
        bus.deadlinesChanged();
    }
    effects.run();
    return true;
}

// Reads from a known printer with the bus's lock held; `fallback` for an unknown id.
template <class Result, class Read>
Result readPrinter(int id, Result fallback, Read read) {
    BusState &bus = BusState::instance();
    std::lock_guard<std::mutex> guard(bus.mutex());
    auto printer = bus.find(id);
    return printer ? read(*printer) : fallback;
}

}  // namespace

int attach(const PrinterSetup &setup) {
    if (setup.transport != Transport::Native && setup.transport != Transport::PrinterClass) return -1;
    if (setup.vid < 0 || setup.vid > 0xFFFF || setup.pid < 0 || setup.pid > 0xFFFF) return -1;
    BusState &bus = BusState::instance();
    std::lock_guard<std::mutex> guard(bus.mutex());
    return bus.add(setup);
}

bool unplug(int id) {
    return changePrinter(id, [](Printer &printer, Effects &effects) {
        printer.unplug(effects);
        return true;
    });
}

bool replug(int id) {
    return changePrinter(id, [](Printer &printer, Effects &) {
        printer.replug();
        return true;
    });
}

void removeAll() {
    BusState &bus = BusState::instance();
    Effects effects;
    {
        std::lock_guard<std::mutex> guard(bus.mutex());
        bus.removeAll(effects);
    }
    effects.run();
}

bool isPresent(int id) {
    return readPrinter(id, false, [](const Printer &printer) { return printer.present; });
}

std::string interfacePath(int id) {
    return readPrinter(id, std::string(), [](const Printer &printer) { return printer.path; });
}

bool send(int id, const void *bytes, size_t count) {
    if (bytes == nullptr && count != 0) return false;
    return changePrinter(id, [bytes, count](Printer &printer, Effects &effects) {
        if (!printer.present) return false;
        const auto *begin = static_cast<const uint8_t *>(bytes);
        printer.toHost.insert(printer.toHost.end(), begin, begin + count);
        printer.serve(Clock::now(), effects);
        return true;
    });
}

long take(int id, void *buffer, size_t capacity) {
    if (buffer == nullptr && capacity != 0) return -1;
    return readPrinter(id, -1L, [buffer, capacity](Printer &printer) {
        size_t count = std::min(capacity, printer.fromHost.size());
        std::copy_n(printer.fromHost.begin(), count, static_cast<uint8_t *>(buffer));
        printer.fromHost.erase(printer.fromHost.begin(), printer.fromHost.begin() + count);
        return static_cast<long>(count);
    });
}

bool takeAll(int id, std::vector<uint8_t> &bytes) {
    return readPrinter(id, false, [&bytes](Printer &printer) {
        bytes.assign(printer.fromHost.begin(), printer.fromHost.end());
        printer.fromHost.clear();
        return true;
    });
}

bool stallWrites(int id, bool stalled) {
    return changePrinter(id, [stalled](Printer &printer, Effects &effects) {
        printer.stalled = stalled;
        printer.serve(Clock::now(), effects);
        return true;
    });
}

bool refuseOpens(int id, bool refuse) {
    return readPrinter(id, false, [refuse](Printer &printer) {
        printer.refuseOpens = refuse;
        return true;
    });
}

bool setErrorCodes(int id, const ErrorCodes &codes) {
    return readPrinter(id, false, [&codes](Printer &printer) {
        printer.codes = codes;
        return true;
    });
}

ErrorCodes errorCodes(int id) {
    return readPrinter(id, ErrorCodes{}, [](const Printer &printer) { return printer.codes; });
}

void setNotFoundCode(DWORD code) {
    BusState &bus = BusState::instance();
    std::lock_guard<std::mutex> guard(bus.mutex());
    bus.setNotFoundCode(code);
}

bool setModel(int id, PrinterModel model) {
    return readPrinter(id, false, [&model](Printer &printer) {
        printer.model = std::move(model);
        return true;
    });
}

bool setWriteGate(int id, WriteGate gate) {
    return readPrinter(id, false, [&gate](Printer &printer) {
        printer.writeGate = std::move(gate);
        return true;
    });
}

bool retryWrites(int id) {
    return changePrinter(id, [](Printer &printer, Effects &effects) {
        printer.serve(Clock::now(), effects);
        return true;
    });
}

bool setCompleteAtOnce(int id, bool on) {
    return readPrinter(id, false, [on](Printer &printer) {
        printer.completeAtOnce = on;
        return true;
    });
}

bool startStream(int id, const StreamSetup &setup) {
    return changePrinter(id, [&setup](Printer &printer, Effects &effects) {
        printer.stream.start(setup.pattern, setup.total);
        printer.serve(Clock::now(), effects);
        return true;
    });
}

bool stopStream(int id) {
    return readPrinter(id, false, [](Printer &printer) {
        printer.stream.stop();
        return true;
    });
}

uint64_t streamTaken(int id) {
    return readPrinter(id, uint64_t{0}, [](const Printer &printer) { return printer.streamTaken(); });
}

bool setZeroLengthReads(int id, unsigned every) {
    return readPrinter(id, false, [every](Printer &printer) {
        printer.zeroLengthEvery = every;
        printer.readsStarted = 0;
        return true;
    });
}

bool setCancelDelay(int id, DWORD milliseconds) {
    return readPrinter(id, false, [milliseconds](Printer &printer) {
        printer.cancelDelay = milliseconds;
        return true;
    });
}

bool ignoreCancels(int id, bool ignore) {
    return readPrinter(id, false, [ignore](Printer &printer) {
        printer.ignoreCancel = ignore;
        return true;
    });
}

COMMTIMEOUTS timeouts(int id) {
    return readPrinter(id, COMMTIMEOUTS{}, [](const Printer &printer) { return printer.timeouts; });
}

size_t pendingReads(int id) {
    return readPrinter(id, size_t{0},
                       [](const Printer &printer) { return printer.heldRequests(platform::IoKind::Read); });
}

size_t pendingWrites(int id) {
    return readPrinter(id, size_t{0},
                       [](const Printer &printer) { return printer.heldRequests(platform::IoKind::Write); });
}

int openFiles(int id) {
    return readPrinter(id, 0, [](const Printer &printer) { return printer.openFiles; });
}

int openFiles() {
    BusState &bus = BusState::instance();
    std::lock_guard<std::mutex> guard(bus.mutex());
    return bus.openFiles();
}

}  // namespace sim
