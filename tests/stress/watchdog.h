// Ends a run that has stopped making progress: a deadlock or a lost wake-up would otherwise hang the suite until
// CI's time-out, with nothing to show for it. It prints the seed to replay, what every thread was doing and the
// port state, then aborts (so that a sanitizer build prints its own report too).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "stress/activity_board.h"

class Watchdog {
public:
    // Fires when `operations` has not changed for `stallLimit`. `describeRun` gives the seed and the state.
    Watchdog(const std::atomic<uint64_t> &operations, ActivityBoard &board, std::function<std::string()> describeRun,
             std::chrono::seconds stallLimit);
    ~Watchdog();

private:
    void watch();

    const std::atomic<uint64_t> &operations_;
    ActivityBoard &board_;
    std::function<std::string()> describeRun_;
    const std::chrono::seconds stallLimit_;
    std::mutex lock_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};
