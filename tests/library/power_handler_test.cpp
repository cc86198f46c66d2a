#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "kernel/faults.h"
#include "kernel/thread_registry.h"
#include "kernel/time_scale.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "power/PowerWindowClass.h"
#include "sim/simbus.h"
#include "support/usb_comm_test_access.h"
#include "support/wait.h"

namespace {

HWND powerWindow() { return FindWindowA(POWER_WINDOW_CLASS, NULL); }

// Stop does not wait for the power thread; its window goes when the thread has ended.
bool waitForNoPowerWindow() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (powerWindow() != NULL) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class PowerHandler : public ::testing::Test {
protected:
    void SetUp() override {
        ShutdownPowerHandler();
        // No printer present: a resume's reopen fails at once and leaves the test's port state without handles.
        simbus_reset();
        platform::setTimeScale(0.001);
    }
    void TearDown() override {
        ShutdownPowerHandler();
        g_pPowerTarget = NULL;
        simbus_reset();
    }
};

TEST_F(PowerHandler, startReturnsWithAHiddenTopLevelWindow) {
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    // No wait: the start returns only once the window exists.
    HWND window = powerWindow();
    ASSERT_NE(window, (HWND)NULL);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(g_pPowerTarget.load(), &port);
    // Top-level and not message-only: the broadcast reaches it.
    EXPECT_EQ(simbus_power(PBT_APMQUERYSUSPEND), 1);
}

TEST_F(PowerHandler, aQuitWhosePostFailedIsPostedAgainSoTheShutdownEnds) {
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    ASSERT_TRUE(platform::armFault("PostThreadMessageA", 1, ERROR_NOT_ENOUGH_QUOTA));
    std::future<void> shutdown = std::async(std::launch::async, [] { ShutdownPowerHandler(); });
    EXPECT_EQ(std::future_status::ready, shutdown.wait_for(std::chrono::seconds(60)))
        << "the shutdown waits for a quit that was never posted";
    shutdown.wait();
    EXPECT_EQ(powerWindow(), (HWND)NULL);
}

TEST_F(PowerHandler, answersEveryPowerEventWithTrueAndRunsNoHandlerButForFourSevenAndEighteen) {
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    HWND window = powerWindow();
    ASSERT_NE(window, (HWND)NULL);

    // A suspended, connected port: a suspend handler would clear m_bConnected, a resume handler m_bSuspended.
    port.BeginSuspension();
    UsbCommTestAccess::setConnected(port, true);
    const WPARAM quietEvents[] = {0, 1, 2, 3, 5, 6, 8, 9, 10, 11, 0x1234};
    for (WPARAM event : quietEvents) {
        EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, event, 0), 1) << "event " << event;
        EXPECT_EQ(port.SuspendedFlag(), 1) << "event " << event;
        EXPECT_TRUE(port.IsConnected()) << "event " << event;
    }
}

TEST_F(PowerHandler, otherMessagesGetWhatDefWindowProcGives) {
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    HWND window = powerWindow();
    ASSERT_NE(window, (HWND)NULL);

    const UINT messages[] = {WM_NULL, WM_USER, WM_USER + 77};
    for (UINT message : messages) {
        LRESULT expected = DefWindowProcA(window, message, 3, 4);
        EXPECT_EQ(SendMessageA(window, message, 3, 4), expected) << "message " << message;
        EXPECT_EQ(PowerHandlerWndProc(window, message, 3, 4), expected) << "message " << message;
    }
}

TEST_F(PowerHandler, broadcastWithoutTargetRunsNoHandler) {
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    g_pPowerTarget = NULL;
    EXPECT_EQ(simbus_power(PBT_APMSUSPEND), 1);
    EXPECT_EQ(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_EQ(PowerHandlerWndProc(powerWindow(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1);
    EXPECT_EQ(port.SuspendedFlag(), 0);
}

// Needs the suspend and resume handling of the port state: the suspend sets m_bSuspended, the resume (with no
// printer present, after its scaled pauses) clears it. A wake with nobody present brings only the automatic resume;
// with a person there the resume from suspend follows it, and must not run the resume handling a second time, which
// a suspended flag set behind the window's back shows. The reader's events stand for a link that is up, so that the
// power thread stays after each resume.
TEST_F(PowerHandler, theFirstResumeOfAWakeReachesTheTargetAndTheSecondRunsNothing) {
    CUsbComm port;
    HANDLE stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE done = CreateEventA(NULL, FALSE, FALSE, NULL);
    UsbCommTestAccess::setReaderEvents(port, stop, done);
    ASSERT_TRUE(StartPowerHandler(&port));
    EXPECT_EQ(simbus_power(PBT_APMSUSPEND), 1);
    EXPECT_EQ(port.SuspendedFlag(), 1);
    EXPECT_EQ(simbus_power(PBT_APMRESUMEAUTOMATIC), 1);
    EXPECT_EQ(port.SuspendedFlag(), 0) << "an unattended wake left the link suspended";
    port.BeginSuspension();
    EXPECT_EQ(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_EQ(port.SuspendedFlag(), 1) << "the resume of the same wake ran the handling again";

    // Used up by that one: a resume from suspend with no automatic resume before it is handled as before.
    EXPECT_EQ(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_EQ(port.SuspendedFlag(), 0);

    UsbCommTestAccess::setReaderEvents(port, NULL, NULL);
    CloseHandle(stop);
    CloseHandle(done);
}

TEST_F(PowerHandler, startWhileRunningReusesThePowerThread) {
    CUsbComm first;
    CUsbComm second;
    ASSERT_TRUE(StartPowerHandler(&first));
    HWND window = powerWindow();
    ASSERT_TRUE(StartPowerHandler(&second));
    EXPECT_EQ(powerWindow(), window) << "the same window, so the same thread";
    EXPECT_EQ(g_pPowerTarget.load(), &second);
    EXPECT_EQ(simbus_power(PBT_APMQUERYSUSPEND), 1) << "one window, so every handler runs once per event";

    // One stop ends it all: no second thread was left behind.
    StopPowerHandler();
    EXPECT_TRUE(waitForNoPowerWindow());
}

TEST_F(PowerHandler, stopRightAfterStartEndsThePowerThread) {
    for (int round = 0; round < 20; ++round) {
        CUsbComm port;
        ASSERT_TRUE(StartPowerHandler(&port));
        StopPowerHandler();
        ASSERT_TRUE(waitForNoPowerWindow()) << "round " << round << ": the quit was lost";
    }
}

TEST_F(PowerHandler, startAfterStopRunsANewPowerThreadForTheNewTarget) {
    CUsbComm first;
    CUsbComm second;
    ASSERT_TRUE(StartPowerHandler(&first));
    HWND oldWindow = powerWindow();
    StopPowerHandler();
    // The window still exists, so the class stays registered; the start serves itself from it.
    ASSERT_TRUE(StartPowerHandler(&second));
    EXPECT_EQ(g_pPowerTarget.load(), &second);
    // Thread ids are reused, window handles are not reused this soon: a new window means a new thread, not the
    // one that was told to quit.
    HWND newWindow = powerWindow();
    ASSERT_NE(newWindow, (HWND)NULL);
    EXPECT_NE(newWindow, oldWindow);
    // The old thread had ended before the new one started: the broadcast finds exactly one window.
    EXPECT_EQ(simbus_power(PBT_APMQUERYSUSPEND), 1);
}

// A start after a stop must not leave the old window alive beside the new one, or one broadcast would run the
// handlers twice. Here the old thread is held inside a suspend handler, which waits for the reader's signal
// until its time limit; the new start may return only after that handler has finished and its thread has ended.
TEST_F(PowerHandler, startAfterStopWaitsForTheOldThreadToEnd) {
    platform::setTimeScale(0.1);
    CUsbComm first;
    first.RecordUsbType(USB_TYPE_PRINTER_CLASS);
    UsbCommTestAccess::setConnected(first, true);
    HANDLE hStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    UsbCommTestAccess::setReaderEvents(first, hStop, CreateEventA(NULL, FALSE, FALSE, NULL));
    ASSERT_TRUE(StartPowerHandler(&first));

    std::thread broadcaster([] { simbus_power(PBT_APMSUSPEND); });
    // The handler sets the stop event on its way into the wait.
    ASSERT_EQ(WaitForSingleObject(hStop, 200000), WAIT_OBJECT_0);
    StopPowerHandler();
    CUsbComm second;
    ASSERT_TRUE(StartPowerHandler(&second));
    EXPECT_FALSE(first.IsConnected()) << "the start returned while the old thread was still in its handler";
    broadcaster.join();
    EXPECT_EQ(simbus_power(PBT_APMQUERYSUSPEND), 1);
}

// Thread ids are reused: a stop must not post its quit to whatever thread now has the id of a power thread that
// ended by itself. Here the power thread ends at once, its window refused, and the layer gives its id to the next
// thread that asks for one: the test's heir, which has a message queue.
TEST_F(PowerHandler, stopPostsNoQuitToTheThreadThatTookTheIdOfAnEndedPowerThread) {
    // This thread takes its own id first, so that the ended power thread's is the next one given out.
    GetCurrentThreadId();
    size_t before = platform::liveThreadCount();
    ASSERT_TRUE(platform::armFault("CreateWindowExA", 1, ERROR_NOT_ENOUGH_MEMORY));
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    ASSERT_EQ(powerWindow(), (HWND)NULL);
    ASSERT_TRUE(test_support::waitUntil([&] { return platform::liveThreadCount() == before; }))
        << "the power thread without a window did not end";

    std::promise<void> queueReady;
    std::promise<void> stopped;
    std::atomic<bool> quitReceived{false};
    std::thread heir([&] {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        queueReady.set_value();
        stopped.get_future().wait();
        quitReceived = PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    });
    queueReady.get_future().wait();
    StopPowerHandler();
    stopped.set_value();
    heir.join();
    EXPECT_FALSE(quitReceived) << "the quit went to the thread that now has the ended power thread's id";
}

TEST_F(PowerHandler, shutdownEndsThePowerThreadAndUnregistersTheClass) {
    size_t before = platform::liveThreadCount();
    CUsbComm port;
    ASSERT_TRUE(StartPowerHandler(&port));
    ShutdownPowerHandler();
    EXPECT_EQ(powerWindow(), (HWND)NULL);
    EXPECT_EQ(platform::liveThreadCount(), before) << "the shutdown returned before the power thread had ended";
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA(POWER_WINDOW_CLASS, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);

    // Nothing left to stop: a second shutdown returns at once.
    ShutdownPowerHandler();
}

}  // namespace
