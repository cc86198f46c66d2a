// The time scale and fault injection.
#include "kernel_test_support.h"

#include <process.h>

#include <chrono>

using namespace kernel_test;

namespace {

class KernelTimeScale : public KernelTest {};
class KernelFaults : public KernelTest {};

using SteadyClock = std::chrono::steady_clock;

// Real time for a 10 s delay at scale 0.001 is 10 ms; the bound only separates scaled from unscaled.
constexpr auto scaledDelayBound = std::chrono::seconds(5);

TEST_F(KernelTimeScale, longSleepsAndTimeOutsShrinkWithTheScale) {
    platform::setTimeScale(0.001);
    auto start = SteadyClock::now();
    Sleep(10000);
    EXPECT_LT(SteadyClock::now() - start, scaledDelayBound);

    HANDLE never = newEvent(true, false);
    start = SteadyClock::now();
    EXPECT_EQ(WaitForSingleObject(never, 10000), WAIT_TIMEOUT);
    EXPECT_LT(SteadyClock::now() - start, scaledDelayBound);
    CloseHandle(never);
}

TEST_F(KernelTimeScale, infiniteStaysInfiniteAndNonsenseFactorsAreIgnored) {
    platform::setTimeScale(0.000001);
    EXPECT_EQ(platform::deadlineAfter(INFINITE), platform::Clock::time_point::max());
    EXPECT_NE(platform::deadlineAfter(INFINITE - 1), platform::Clock::time_point::max());
    for (double nonsense : {0.0, -1.0}) {
        platform::setTimeScale(nonsense);
        EXPECT_EQ(platform::timeScale(), 0.000001);
    }
}

TEST_F(KernelFaults, anArmedOperationFailsTheGivenNumberOfTimesWithTheGivenError) {
    ASSERT_TRUE(platform::armFault("CreateEventA", 2, ERROR_NOT_ENOUGH_MEMORY));
    for (int i = 0; i < 2; ++i) {
        SetLastError(0);
        EXPECT_EQ(newEvent(true, false), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }
    HANDLE event = newEvent(true, true);
    ASSERT_NE(event, nullptr);

    ASSERT_TRUE(platform::armFault("WaitForSingleObject", 1, ERROR_GEN_FAILURE));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(KernelFaults, unknownNamesAreRefusedAndClearingDisarms) {
    EXPECT_FALSE(platform::armFault("CreateEventW", 1, ERROR_GEN_FAILURE));
    EXPECT_FALSE(platform::armFault("operator new", 1, ERROR_GEN_FAILURE));

    ASSERT_TRUE(platform::armFault("_beginthreadex", 1, ERROR_NOT_ENOUGH_MEMORY));
    ASSERT_TRUE(platform::armFault("CreateThread", 5, ERROR_NOT_ENOUGH_MEMORY));
    ASSERT_TRUE(platform::armFault("FormatMessageA", 5, ERROR_NOT_ENOUGH_MEMORY));
    ASSERT_TRUE(platform::armFault("FormatMessageA", 0, 0));  // zero times disarms
    char text[64];
    EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 6, 0, text,
                             sizeof text, nullptr),
              0u);
    EXPECT_EQ(_beginthreadex(
                  nullptr, 0, [](void *) -> unsigned { return 0; }, nullptr, 0, nullptr),
              0u);

    platform::clearFaults();
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, generousMilliseconds), WAIT_OBJECT_0);
    CloseHandle(thread);
}

}  // namespace
