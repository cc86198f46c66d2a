// System broadcasts to top-level windows.
#include "user32_test_support.h"

#include "kernel/misuse.h"
#include "kernel/time_scale.h"
#include "user32/broadcast.h"
#include "user32/user_state.h"

#include <map>

using namespace user32_test;

namespace {

std::mutex receivedLock;
std::map<HWND, DWORD> receivedOnThread;

LRESULT CALLBACK powerProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_POWERBROADCAST) return DefWindowProcA(hwnd, message, wParam, lParam);
    std::lock_guard<std::mutex> guard(receivedLock);
    receivedOnThread[hwnd] = GetCurrentThreadId();
    return TRUE;
}

struct Broadcast {
    int handled = 0;
    HWND ownWindow = nullptr;
    DWORD threadId = 0;
};

// Broadcasts from a thread that owns a window itself. The thread is detached, so that a broadcast that never
// returns fails the test instead of hanging it.
std::future<Broadcast> broadcastFromWindowThread() {
    std::packaged_task<Broadcast()> broadcast([] {
        Broadcast result;
        result.threadId = GetCurrentThreadId();
        result.ownWindow = createWindow("User32 Broadcast Test");
        result.handled = platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        DestroyWindow(result.ownWindow);
        return result;
    });
    auto result = broadcast.get_future();
    std::thread(std::move(broadcast)).detach();
    return result;
}

}  // namespace

// One window of each kind: on a thread with a message loop, message-only, on a thread that ends while the
// broadcast waits for it, and on the broadcasting thread itself.
TEST(User32Broadcast, reachesEveryTopLevelWindowOnItsOwnThread) {
    ASSERT_NE(registerClass("User32 Broadcast Test", powerProcedure), 0);
    {
        std::lock_guard<std::mutex> guard(receivedLock);
        receivedOnThread.clear();
    }
    WindowThread looping("User32 Broadcast Test");
    WindowThread messageOnly("User32 Broadcast Test", HWND_MESSAGE);
    Gate end;
    WindowThread ending("User32 Broadcast Test", nullptr, [&](HWND) { end.wait(); });

    auto broadcast = broadcastFromWindowThread();
    EXPECT_TRUE(platform::user32::waitForPendingSentMessage(ending.threadId(), generousBound));
    end.open();
    ASSERT_EQ(broadcast.wait_for(generousBound), std::future_status::ready);
    Broadcast result = broadcast.get();

    EXPECT_EQ(result.handled, 2);
    {
        std::lock_guard<std::mutex> guard(receivedLock);
        EXPECT_EQ(receivedOnThread.size(), 2u);
        EXPECT_EQ(receivedOnThread[looping.window()], looping.threadId());
        EXPECT_EQ(receivedOnThread[result.ownWindow], result.threadId);
    }

    ending.join();
    looping.quit(0);
    messageOnly.quit(0);
    EXPECT_TRUE(UnregisterClassA("User32 Broadcast Test", nullptr));
}

namespace {

Gate *slowHandlerGate = nullptr;

// Blocks in PBT_APMSUSPEND until the test opens the gate, and takes three seconds over PBT_APMRESUMESUSPEND.
LRESULT CALLBACK slowSuspendProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_POWERBROADCAST) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (wParam == PBT_APMSUSPEND) slowHandlerGate->wait();
    if (wParam == PBT_APMRESUMESUSPEND) Sleep(3000);
    return TRUE;
}

bool waitForReport(std::vector<std::string> &reports) {
    auto end = std::chrono::steady_clock::now() + generousBound;
    while (reports.empty() && std::chrono::steady_clock::now() < end) {
        reports = platform::takeMisuseReports();
        std::this_thread::yield();
    }
    return !reports.empty();
}

}  // namespace

namespace {

// Stands for a handler slowed down by a busy machine or a sanitizer: its specified wait scales, the second of work
// around it does not.
LRESULT CALLBACK slowlyWorkingSuspendProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_POWERBROADCAST) return DefWindowProcA(hwnd, message, wParam, lParam);
    Sleep(1500);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return TRUE;
}

}  // namespace

// The budget scales with the time scale, yet allows real time for the work between the waits: a handler whose
// specified waits stay within two seconds is no overrun however small the scale.
TEST(User32Broadcast, aSuspendHandlerSlowedDownInRealTimeStaysWithinItsBudget) {
    ASSERT_NE(registerClass("User32 Slowly Working", slowlyWorkingSuspendProcedure), 0);
    WindowThread slow("User32 Slowly Working");
    platform::setTimeScale(0.001);
    EXPECT_EQ(platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1);
    platform::setTimeScale(1.0);
    EXPECT_TRUE(platform::takeMisuseReports().empty());
    slow.quit(0);
    EXPECT_TRUE(UnregisterClassA("User32 Slowly Working", nullptr));
}

// Windows gives a suspend handler about two seconds and then sleeps anyway: a handler still running by then is
// a failure, though the broadcast still waits for it.
TEST(User32Broadcast, aSuspendHandlerStillRunningAfterItsBudgetIsReported) {
    ASSERT_NE(registerClass("User32 Slow Suspend", slowSuspendProcedure), 0);
    Gate gate;
    slowHandlerGate = &gate;
    WindowThread slow("User32 Slow Suspend");
    platform::setTimeScale(0.001);

    std::packaged_task<int()> task([] { return platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0); });
    auto broadcast = task.get_future();
    std::thread broadcaster(std::move(task));
    std::vector<std::string> reports;
    EXPECT_TRUE(waitForReport(reports));
    EXPECT_NE(broadcast.wait_for(std::chrono::seconds(0)), std::future_status::ready) << "the handler still runs";
    gate.open();
    ASSERT_EQ(broadcast.wait_for(generousBound), std::future_status::ready);
    broadcaster.join();
    EXPECT_EQ(broadcast.get(), 1) << "the broadcast waited for the handler";

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("suspend handler still running after the 2 s budget"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(platform::handleText(slow.window())), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("thread " + std::to_string(slow.threadId())), std::string::npos) << reports[0];

    // A resume has no such budget, and a quick suspend handler stays within it.
    EXPECT_EQ(platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0), 1);
    platform::setTimeScale(1.0);
    Gate open;
    open.open();
    slowHandlerGate = &open;
    EXPECT_EQ(platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1);
    EXPECT_TRUE(platform::takeMisuseReports().empty());

    slow.quit(0);
    EXPECT_TRUE(UnregisterClassA("User32 Slow Suspend", nullptr));
}
