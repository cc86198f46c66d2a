// What distinguishes the two simulated drivers: how reads are served, the serial requests, the time-outs.
#pragma once

#include <windows.h>

#include "kernel/time_scale.h"
#include "sim/effects.h"
#include "sim/pending_io.h"

namespace sim {

class Printer;

class Driver {
public:
    virtual ~Driver() = default;
    // The time-outs a device starts with, at attach and after a replug.
    virtual COMMTIMEOUTS defaultTimeouts() const = 0;
    // Fills in a new read's time-outs from the device's.
    virtual void prepareRead(const Printer &printer, PendingIo &read) const = 0;
    // Ends the reads that can end now: bytes there, a time-out passed. Called after every change.
    virtual void serveReads(Printer &printer, platform::Clock::time_point now, Effects &effects) const = 0;
    // The write's total time-out, or PendingIo::never.
    virtual platform::Clock::time_point writeDeadline(const Printer &printer, DWORD length) const = 0;
    virtual DWORD control(Printer &printer, DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
                          DWORD &bytesReturned) const = 0;
    virtual DWORD purge(Printer &printer, DWORD flags, Effects &effects) const = 0;
};

const Driver &nativeDriver();
const Driver &printerClassDriver();

}  // namespace sim
