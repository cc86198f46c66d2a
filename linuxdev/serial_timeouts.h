// Windows' serial time-out rules, as the vendor's native driver applies them to its bulk pipes: the five members of
// SERIAL_TIMEOUTS turned into when a read or a write of a given length must end.
#pragma once

#include <windows.h>

namespace linuxdev {

// What the native driver starts every handle with: a read waits at most a second for its bytes.
COMMTIMEOUTS nativeDefaultTimeouts();

// How long a read may wait, in milliseconds; 0 in a limit means it has none.
struct ReadLimits {
    // MAXDWORD, 0, 0: returns at once with what is there.
    bool endsAtOnce = false;
    // MAXDWORD, MAXDWORD, 0 < constant < MAXDWORD: returns as soon as anything arrived, or after the constant.
    bool endsOnFirstBytes = false;
    // The longest gap allowed between bytes, counted from the first byte.
    DWORD intervalMs = 0;
    // multiplier × length + constant, from the start of the read.
    DWORD totalMs = 0;
};

ReadLimits readLimits(const COMMTIMEOUTS &timeouts, DWORD length);
// multiplier × length + constant; 0: a write waits until the device takes every byte.
DWORD writeLimitMs(const COMMTIMEOUTS &timeouts, DWORD length);

// The time-out of the next bulk transfer of a read that has `bytesSoFar` bytes after `elapsedMs`: 0 for none, or
// `expired` when the read must end now with what it has.
unsigned nextReadTransferMs(const ReadLimits &limits, DWORD bytesSoFar, DWORD elapsedMs, bool &expired);

}  // namespace linuxdev
