// The operating system's USB printer class driver: a read ends as soon as the printer has sent anything, with
// what fits; no serial requests (DeviceIoControl and PurgeComm fail with ERROR_INVALID_FUNCTION) and no
// time-outs.
#include <algorithm>

#include "sim/driver.h"
#include "sim/printer.h"

namespace sim {
namespace {

using platform::Clock;

class PrinterClassDriver : public Driver {
public:
    COMMTIMEOUTS defaultTimeouts() const override { return COMMTIMEOUTS{}; }

    void prepareRead(const Printer &, PendingIo &) const override {}

    void serveReads(Printer &printer, Clock::time_point, Effects &effects) const override {
        while (!printer.reads.empty()) {
            printer.offerToHost(printer.reads.front().request->length());
            if (printer.toHost.empty()) return;
            PendingIo read = std::move(printer.reads.front());
            printer.reads.pop_front();
            auto count = static_cast<DWORD>(std::min<size_t>(printer.toHost.size(), read.request->length()));
            printer.fillRead(read, count, effects);
        }
    }

    Clock::time_point writeDeadline(const Printer &, DWORD) const override { return PendingIo::never; }

    DWORD control(Printer &, DWORD, const void *, DWORD, void *, DWORD, DWORD &) const override {
        return ERROR_INVALID_FUNCTION;
    }

    DWORD purge(Printer &, DWORD, Effects &) const override { return ERROR_INVALID_FUNCTION; }
};

}  // namespace

const Driver &printerClassDriver() {
    static const PrinterClassDriver driver;
    return driver;
}

}  // namespace sim
