// System broadcasts to top-level windows.
#include "user32_test_support.h"

#include "user32/broadcast.h"
#include "user32/user_state.h"

#include <map>

using namespace user32_test;

namespace {

std::mutex receivedLock;
std::map<HWND, DWORD> receivedOnThread;

LRESULT CALLBACK powerProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
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
std::future<Broadcast> broadcastFromWindowThread()
{
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
TEST(User32Broadcast, ReachesEveryTopLevelWindowOnItsOwnThread)
{
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
