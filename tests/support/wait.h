// Waiting on a condition that another thread or process brings about. Tests wait for conditions, never for time.
#pragma once

#include <windows.h>

#include <chrono>
#include <thread>

namespace test_support {

// Long enough that only a broken implementation reaches it.
const std::chrono::seconds GENEROUS{60};
const DWORD GENEROUS_MS = 60000;

// Whether `condition` came to hold within the bound.
template <class Condition>
bool waitUntil(Condition condition, std::chrono::seconds bound = GENEROUS) {
    auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace test_support
