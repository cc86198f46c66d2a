// Message queues, the message loop and messages sent between threads.
#include "user32_test_support.h"

#include "user32/user_state.h"

#include <atomic>

using namespace user32_test;

namespace {

constexpr UINT askMessage = WM_USER + 1;
// Asks the window given in wParam in turn and answers with its answer plus 1000.
constexpr UINT relayMessage = WM_USER + 2;

std::atomic<DWORD> askedOnThread{0};
std::atomic<int> askedCount{0};
std::atomic<int> destroyedCount{0};

// Answers askMessage with 42 + wParam. It calls USER32 itself, which would deadlock if the layer kept its lock
// while a procedure runs.
LRESULT CALLBACK askingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) destroyedCount++;
    if (message == relayMessage) return SendMessageA(reinterpret_cast<HWND>(wParam), askMessage, 0, 0) + 1000;
    if (message != askMessage) return DefWindowProcA(hwnd, message, wParam, lParam);
    askedOnThread = GetCurrentThreadId();
    askedCount++;
    if (!IsWindow(hwnd)) return -1;
    return 42 + static_cast<LRESULT>(wParam);
}

class User32Messages : public ::testing::Test {
protected:
    void SetUp() override {
        askedOnThread = 0;
        askedCount = 0;
        destroyedCount = 0;
        ASSERT_NE(registerClass("User32 Messages Test", askingProcedure), 0);
    }
    void TearDown() override { EXPECT_TRUE(UnregisterClassA("User32 Messages Test", nullptr)); }

    // The sending thread is detached, so that a sender the layer never releases fails the test instead of
    // hanging it.
    static std::future<LRESULT> sendFromAnotherThread(HWND window) {
        std::packaged_task<LRESULT()> send([window] { return SendMessageA(window, askMessage, 0, 0); });
        auto answer = send.get_future();
        std::thread(std::move(send)).detach();
        return answer;
    }
};

}  // namespace

TEST_F(User32Messages, sentMessageRunsOnTheOwnerInsideGetMessage) {
    WindowThread owner("User32 Messages Test");
    EXPECT_EQ(SendMessageA(owner.window(), askMessage, 5, 0), 47);
    EXPECT_EQ(askedOnThread, owner.threadId());

    EXPECT_EQ(owner.quit(7), 7u) << "GetMessageA ends the loop at WM_QUIT and hands over its wParam";
    EXPECT_EQ(owner.retrieved(), 0) << "a sent message does not come out of GetMessageA";
}

TEST_F(User32Messages, waitingSenderRunsMessagesSentBackToIt) {
    WindowThread owner("User32 Messages Test");
    std::packaged_task<DWORD()> relay([&] {
        HWND own = createWindow("User32 Messages Test");
        EXPECT_EQ(SendMessageA(owner.window(), relayMessage, reinterpret_cast<WPARAM>(own), 0), 1042);
        DestroyWindow(own);
        return GetCurrentThreadId();
    });
    auto relayThread = relay.get_future();
    std::thread(std::move(relay)).detach();
    ASSERT_EQ(relayThread.wait_for(generousBound), std::future_status::ready) << "the two senders deadlocked";
    EXPECT_EQ(askedOnThread, relayThread.get());
    owner.quit(0);
}

TEST_F(User32Messages, sameThreadSendCallsTheProcedureDirectly) {
    HWND window = createWindow("User32 Messages Test");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, askMessage, 1, 0), 43);
    EXPECT_EQ(askedOnThread, GetCurrentThreadId());

    MSG posted{window, askMessage, 2, 0, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&posted), 44);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(destroyedCount, 1);
    EXPECT_EQ(SendMessageA(window, askMessage, 0, 0), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(User32Messages, quitComesAfterPostedMessagesWhateverTheFilter) {
    MSG msg{};
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), askMessage, 1, 2));
    PostQuitMessage(3);

    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, askMessage);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, askMessage);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.lParam, 2);

    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 10, WM_USER + 20, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(User32Messages, postingNeedsAQueueOfALiveThread) {
    Gate idOnly, callUser32, queueMade, end;
    DWORD threadId = 0;
    std::thread thread([&] {
        threadId = GetCurrentThreadId();
        idOnly.open();
        callUser32.wait();
        MSG msg{};
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        queueMade.open();
        end.wait();
    });
    ASSERT_TRUE(idOnly.wait());
    EXPECT_FALSE(PostThreadMessageA(threadId, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_THREAD_ID);

    callUser32.open();
    ASSERT_TRUE(queueMade.wait());
    EXPECT_TRUE(PostThreadMessageA(threadId, WM_USER, 0, 0));

    end.open();
    thread.join();
    EXPECT_FALSE(PostThreadMessageA(threadId, WM_USER, 0, 0)) << "an ended thread has no queue";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_THREAD_ID);
}

TEST_F(User32Messages, senderGetsZeroWhenTheOwnerEnds) {
    Gate end;
    WindowThread owner("User32 Messages Test", nullptr, [&](HWND) { end.wait(); });
    auto answer = sendFromAnotherThread(owner.window());
    ASSERT_TRUE(platform::user32::waitForPendingSentMessage(owner.threadId(), generousBound));

    end.open();
    ASSERT_EQ(answer.wait_for(generousBound), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0);
    EXPECT_EQ(askedCount, 0);
    owner.join();
}

TEST_F(User32Messages, senderGetsZeroWhenTheWindowIsDestroyed) {
    Gate destroy, end;
    WindowThread owner("User32 Messages Test", nullptr, [&](HWND window) {
        destroy.wait();
        DestroyWindow(window);
        end.wait();
    });
    auto answer = sendFromAnotherThread(owner.window());
    ASSERT_TRUE(platform::user32::waitForPendingSentMessage(owner.threadId(), generousBound));

    destroy.open();
    ASSERT_EQ(answer.wait_for(generousBound), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0);
    EXPECT_EQ(askedCount, 0);
    EXPECT_EQ(destroyedCount, 1);
    end.open();
    owner.join();
}
