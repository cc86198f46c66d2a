// Sleep, on the layer's time scale.
#include "kernel/time_scale.h"

#include <thread>

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        // Sleep(0) gives up the rest of the time slice to any thread that is ready to run.
        std::this_thread::yield();
        return;
    }
    platform::Clock::time_point deadline = platform::deadlineAfter(dwMilliseconds);
    if (deadline == platform::Clock::time_point::max()) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_until(deadline);
}
