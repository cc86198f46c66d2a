// The layer's time scale and the deadlines computed from it.
#include "kernel/time_scale.h"

#include <atomic>
#include <cmath>

namespace platform {
namespace {

std::atomic<double> scale{1.0};

// Beyond about three centuries the clock's nanosecond count would overflow; such a time-out never ends anyway.
constexpr double longestScaledNanoseconds = 9.0e18;

}  // namespace

void setTimeScale(double factor) {
    // Zero, negative or NaN factors would make time-outs end before they start or never; keep the old scale.
    if (!(factor > 0.0) || !std::isfinite(factor)) return;
    scale.store(factor);
}

double timeScale() { return scale.load(); }

Clock::time_point deadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) return Clock::time_point::max();
    double nanoseconds = static_cast<double>(milliseconds) * 1.0e6 * timeScale();
    Clock::time_point now = Clock::now();
    double room = static_cast<double>((Clock::time_point::max() - now).count());
    if (nanoseconds >= longestScaledNanoseconds || nanoseconds >= room) return Clock::time_point::max();
    return now +
           std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(static_cast<int64_t>(nanoseconds)));
}

}  // namespace platform
