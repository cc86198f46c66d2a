// The vendor's native USB printer driver: reads that end under the serial time-outs, which belong to the
// device (not to a handle), and the two serial time-out requests and purge.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <ntddser.h>

#include "sim/driver.h"
#include "sim/printer.h"

namespace sim {
namespace {

using platform::Clock;

static_assert(sizeof(SERIAL_TIMEOUTS) == 20 && sizeof(COMMTIMEOUTS) == sizeof(SERIAL_TIMEOUTS),
              "the serial time-out record is five 32-bit members");

constexpr DWORD purgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// multiplier × bytes + constant; both 0 means no total time-out.
Clock::time_point totalDeadline(DWORD multiplier, DWORD constant, DWORD length) {
    if (multiplier == 0 && constant == 0) return PendingIo::never;
    uint64_t total = uint64_t{multiplier} * length + constant;
    return platform::deadlineAfter(static_cast<DWORD>(std::min<uint64_t>(total, INFINITE - 1)));
}

class NativeDriver : public Driver {
public:
    COMMTIMEOUTS defaultTimeouts() const override {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadTotalTimeoutConstant = 1000;
        return timeouts;
    }

    void prepareRead(const Printer &printer, PendingIo &read) const override {
        const COMMTIMEOUTS &t = printer.timeouts;
        bool intervalMax = t.ReadIntervalTimeout == MAXDWORD;
        if (intervalMax && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
            read.returnAtOnce = true;
            return;
        }
        if (intervalMax && t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant != 0 &&
            t.ReadTotalTimeoutConstant != MAXDWORD) {
            read.returnOnFirstByte = true;
            read.deadline = platform::deadlineAfter(t.ReadTotalTimeoutConstant);
            return;
        }
        read.interval = t.ReadIntervalTimeout;
        read.deadline = totalDeadline(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, read.request->length());
    }

    // Only the oldest read sees the bytes there; the ones behind it can end only by a time-out, with nothing.
    void serveReads(Printer &printer, Clock::time_point now, Effects &effects) const override {
        bool first = true;
        for (auto it = printer.reads.begin(); it != printer.reads.end();) {
            PendingIo &read = *it;
            DWORD length = read.request->length();
            if (first) printer.offerToHost(length);
            DWORD visible = first ? static_cast<DWORD>(std::min<size_t>(printer.toHost.size(), length)) : 0;
            if (visible > read.seen) {
                read.seen = visible;
                if (read.interval != 0) read.gapDeadline = platform::deadlineAfter(read.interval);
            }
            bool ends = visible == length || read.returnAtOnce || (read.returnOnFirstByte && visible > 0) ||
                        now >= read.nextDeadline();
            if (!ends) {
                first = false;
                ++it;
                continue;
            }
            PendingIo done = std::move(read);
            it = printer.reads.erase(it);
            // A time-out is no error: the read succeeds with the bytes there.
            printer.fillRead(done, visible, effects);
        }
    }

    Clock::time_point writeDeadline(const Printer &printer, DWORD length) const override {
        return totalDeadline(printer.timeouts.WriteTotalTimeoutMultiplier, printer.timeouts.WriteTotalTimeoutConstant,
                             length);
    }

    DWORD control(Printer &printer, DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
                  DWORD &bytesReturned) const override {
        switch (code) {
        case IOCTL_SERIAL_GET_TIMEOUTS:
            if (outSize < sizeof(SERIAL_TIMEOUTS)) return ERROR_INSUFFICIENT_BUFFER;
            if (out == nullptr) return ERROR_NOACCESS;
            std::memcpy(out, &printer.timeouts, sizeof(SERIAL_TIMEOUTS));
            bytesReturned = sizeof(SERIAL_TIMEOUTS);
            return ERROR_SUCCESS;
        case IOCTL_SERIAL_SET_TIMEOUTS:
            if (inSize < sizeof(SERIAL_TIMEOUTS)) return ERROR_INVALID_PARAMETER;
            if (in == nullptr) return ERROR_NOACCESS;
            std::memcpy(&printer.timeouts, in, sizeof(SERIAL_TIMEOUTS));
            return ERROR_SUCCESS;
        default:
            return ERROR_INVALID_FUNCTION;
        }
    }

    DWORD purge(Printer &printer, DWORD flags, Effects &effects) const override {
        if (flags == 0 || (flags & ~purgeFlags) != 0) return ERROR_INVALID_PARAMETER;
        if ((flags & PURGE_RXABORT) != 0) printer.endReads(ERROR_OPERATION_ABORTED, effects);
        if ((flags & PURGE_TXABORT) != 0) printer.endWrites(ERROR_OPERATION_ABORTED, effects);
        if ((flags & PURGE_RXCLEAR) != 0) printer.clearToHost();
        // PURGE_TXCLEAR: the printer takes written bytes at once, so no output buffer is left to clear.
        return ERROR_SUCCESS;
    }
};

}  // namespace

const Driver &nativeDriver() {
    static const NativeDriver driver;
    return driver;
}

}  // namespace sim
