#include "linuxdev/serial_timeouts.h"

#include <algorithm>
#include <cstdint>

namespace linuxdev {
namespace {

// A time-out of MAXDWORD or more would read as "none" or as the special value; it only needs to be long.
DWORD clampedTotal(DWORD multiplier, DWORD constant, DWORD length) {
    uint64_t total = uint64_t{multiplier} * length + constant;
    return static_cast<DWORD>(std::min<uint64_t>(total, MAXDWORD - 1));
}

// The shortest wait that still lets a packet already on its way be taken.
const unsigned atOnceMs = 1;

}  // namespace

COMMTIMEOUTS nativeDefaultTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 1000;
    return timeouts;
}

ReadLimits readLimits(const COMMTIMEOUTS &t, DWORD length) {
    ReadLimits limits;
    bool intervalMax = t.ReadIntervalTimeout == MAXDWORD;
    if (intervalMax && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
        limits.endsAtOnce = true;
        return limits;
    }
    if (intervalMax && t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant != 0 &&
        t.ReadTotalTimeoutConstant != MAXDWORD) {
        limits.endsOnFirstBytes = true;
        limits.totalMs = t.ReadTotalTimeoutConstant;
        return limits;
    }
    limits.intervalMs = t.ReadIntervalTimeout;
    limits.totalMs = clampedTotal(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, length);
    return limits;
}

DWORD writeLimitMs(const COMMTIMEOUTS &t, DWORD length) {
    return clampedTotal(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, length);
}

unsigned nextReadTransferMs(const ReadLimits &limits, DWORD bytesSoFar, DWORD elapsedMs, bool &expired) {
    expired = false;
    if (limits.endsAtOnce) return atOnceMs;
    unsigned wait = 0;
    if (limits.totalMs != 0) {
        if (elapsedMs >= limits.totalMs) {
            expired = true;
            return 0;
        }
        wait = limits.totalMs - elapsedMs;
    }
    // The interval counts only once the first byte has come.
    if (limits.intervalMs != 0 && bytesSoFar > 0 && (wait == 0 || limits.intervalMs < wait)) {
        wait = limits.intervalMs;
    }
    return wait;
}

}  // namespace linuxdev
