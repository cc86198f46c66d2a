// The layer's time scale: tests run the library's long specified delays at a fraction of real time.
#pragma once

#include <windows.h>

#include <chrono>

namespace platform {

using Clock = std::chrono::steady_clock;

// 1.0 is real time; 0.01 runs every Sleep and every finite time-out a hundred times faster.
void setTimeScale(double factor);
double timeScale();
// The moment a time-out of the given milliseconds ends, scaled; INFINITE gives Clock::time_point::max().
Clock::time_point deadlineAfter(DWORD milliseconds);

}  // namespace platform
