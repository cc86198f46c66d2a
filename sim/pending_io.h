// A read or write that a simulated driver holds until data, time-out, cancel or unplug ends it.
#pragma once

#include <windows.h>

#include <memory>

#include "files/io_request.h"
#include "kernel/time_scale.h"

namespace sim {

struct PendingIo {
    static constexpr platform::Clock::time_point never = platform::Clock::time_point::max();

    std::shared_ptr<platform::IoRequest> request;
    // The open file the request came through: its cleanup ends the request even when cancels are ignored.
    const void *file = nullptr;
    // The total time-out; `never` without one.
    platform::Clock::time_point deadline = never;
    // Native reads: the longest gap between two bytes once the first has arrived (0: none), the end of the gap
    // now running, and how many bytes the read has seen arrive.
    DWORD interval = 0;
    platform::Clock::time_point gapDeadline = never;
    DWORD seen = 0;
    // Native reads: return at once with what is there; return as soon as one byte is there.
    bool returnAtOnce = false;
    bool returnOnFirstByte = false;

    platform::Clock::time_point nextDeadline() const { return deadline < gapDeadline ? deadline : gapDeadline; }
};

}  // namespace sim
