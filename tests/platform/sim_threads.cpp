// No thread of the layer outlives its use: Win32 threads stop counting before their handles are signalled, and
// the simulated bus's timer runs only while a request has a deadline, and ends for good at a reset.
#include <ntddser.h>

#include "kernel/thread_registry.h"
#include "kernel/time_scale.h"
#include "sim_test_support.h"

namespace {

using sim_test::CallResult;
using sim_test::SimTest;

DWORD WINAPI waitForEvent(LPVOID event) { return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE); }

TEST_F(SimTest, aWin32ThreadCountsAsLiveFromCreationUntilItsHandleIsSignalled) {
    size_t before = platform::liveThreadCount();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[3] = {};
    for (HANDLE &thread : threads) {
        thread = CreateThread(nullptr, 0, waitForEvent, go, CREATE_SUSPENDED, nullptr);
        ASSERT_NE(nullptr, thread);
    }
    EXPECT_EQ(before + 3, platform::liveThreadCount()) << "suspended threads count too";
    EXPECT_EQ(static_cast<int>(before + 3), simbus_live_threads());
    for (HANDLE thread : threads) ResumeThread(thread);
    SetEvent(go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, threads, TRUE, 60000));
    EXPECT_EQ(before, platform::liveThreadCount());
    platform::joinFinishedThreads();
    for (HANDLE thread : threads) CloseHandle(thread);
    CloseHandle(go);
}

class TimerThread : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        before_ = platform::liveThreadCount();
        id_ = attach(sim::Transport::Native);
        file_ = openPipe(id_, "PIPE00");
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        SimTest::TearDown();
    }

    bool setReadTimeout(DWORD constant) {
        SERIAL_TIMEOUTS timeouts{0, 0, constant, 0, 0};
        DWORD returned = 0;
        return DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0, &returned,
                               nullptr);
    }

    CallResult read() {
        char buffer[8];
        DWORD count = 99;
        BOOL ok = ReadFile(file_, buffer, sizeof buffer, &count, nullptr);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    }

    std::future<CallResult> readInBackground() {
        auto result = std::async(std::launch::async, [this] { return read(); });
        EXPECT_TRUE(sim_test::eventually([this] { return sim::pendingReads(id_) == 1; }))
            << "the read never went pending";
        return result;
    }

    size_t before_ = 0;
    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(TimerThread, runsOnlyWhileARequestHasADeadline) {
    // A deadline no loaded machine reaches while the test looks: the timer is seen waiting for it, and ends when
    // the request it was timing completes by other means.
    ASSERT_TRUE(setReadTimeout(3600000));
    auto pending = readInBackground();
    EXPECT_EQ(before_ + 1, platform::liveThreadCount()) << "a pending read with a deadline is timed";
    // A full buffer ends the read before its deadline.
    ASSERT_TRUE(send(id_, "12345678"));
    ASSERT_TRUE(sim_test::finishes(pending));
    EXPECT_EQ(8u, pending.get().count);
    EXPECT_TRUE(sim_test::eventually([this] { return platform::liveThreadCount() == before_; }))
        << "nothing left to time";

    // A short deadline: the timer itself ends the read, then has nothing left to time.
    platform::setTimeScale(0.01);
    ASSERT_TRUE(setReadTimeout(1000));
    CallResult r = read();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(0u, r.count);
    EXPECT_TRUE(sim_test::eventually([this] { return platform::liveThreadCount() == before_; }))
        << "it ends again once the deadline has passed";
}

TEST_F(TimerThread, aResetEndsItAtOnceEvenWithADeadlineAhead) {
    ASSERT_TRUE(setReadTimeout(3600000));
    auto read = readInBackground();
    ASSERT_EQ(before_ + 1, platform::liveThreadCount());
    simbus_reset();
    EXPECT_EQ(before_, platform::liveThreadCount());
    ASSERT_TRUE(sim_test::finishes(read));
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), read.get().error);
}

}  // namespace
