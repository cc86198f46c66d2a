// Waiting on a condition that another process or thread brings about.
#pragma once

#include <chrono>
#include <thread>

namespace logind_test {

constexpr std::chrono::seconds generousBound{30};

// Waits, within the bound, until `condition` holds.
template <class Condition>
bool waitUntil(Condition condition) {
    auto end = std::chrono::steady_clock::now() + generousBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace logind_test
