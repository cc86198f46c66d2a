// Shared pieces of the kernel tests.
#pragma once

#include <windows.h>

#include "kernel/faults.h"
#include "kernel/misuse.h"
#include "kernel/time_scale.h"

#include <gtest/gtest.h>

namespace kernel_test {

// Long enough that only a broken implementation reaches it; tests wait for conditions, never for time.
constexpr DWORD generousMilliseconds = 60000;

// Puts the layer's global knobs back, whatever a test did with them.
class KernelTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::clearFaults();
        platform::setTimeScale(1.0);
    }
};

inline HANDLE newEvent(bool manualReset, bool signalled) {
    return CreateEventA(nullptr, manualReset ? TRUE : FALSE, signalled ? TRUE : FALSE, nullptr);
}

inline bool isSignalled(HANDLE object) { return WaitForSingleObject(object, 0) == WAIT_OBJECT_0; }

}  // namespace kernel_test
