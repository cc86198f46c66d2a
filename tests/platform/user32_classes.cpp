// Window classes and window lifetime.
#include "user32_test_support.h"

#include "kernel/faults.h"

using namespace user32_test;

TEST(User32Classes, registrationErrorsFollowWindows) {
    ATOM atom = registerClass("User32 Class Test", DefWindowProcA);
    ASSERT_NE(atom, 0);

    SetLastError(0);
    EXPECT_EQ(registerClass("USER32 class TEST", DefWindowProcA), 0) << "names compare without regard to case";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);

    EXPECT_FALSE(UnregisterClassA("User32 No Such Class", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);
    EXPECT_EQ(createWindow("User32 No Such Class"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_FIND_WND_CLASS);

    HWND window = createWindow("user32 class test");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(UnregisterClassA("User32 Class Test", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_HAS_WINDOWS);

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(UnregisterClassA(MAKEINTATOM(atom), nullptr));
    EXPECT_FALSE(UnregisterClassA("User32 Class Test", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);
}

TEST(User32Classes, windowsEndWithTheirThread) {
    ASSERT_NE(registerClass("User32 Thread End Test", DefWindowProcA), 0);
    Gate end;
    WindowThread owner("User32 Thread End Test", nullptr, [&](HWND) { end.wait(); });
    ASSERT_TRUE(IsWindow(owner.window()));
    EXPECT_FALSE(DestroyWindow(owner.window())) << "only the owner thread may destroy a window";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);

    end.open();
    owner.join();
    EXPECT_FALSE(IsWindow(owner.window()));
    EXPECT_TRUE(UnregisterClassA("User32 Thread End Test", nullptr));
}

TEST(User32Classes, findWindowSeesTopLevelWindowsOnly) {
    ASSERT_NE(registerClass("User32 Find Hidden", DefWindowProcA), 0);
    ASSERT_NE(registerClass("User32 Find Shown", DefWindowProcA), 0);
    ASSERT_NE(registerClass("User32 Find Message Only", DefWindowProcA), 0);
    HWND hidden = createWindow("User32 Find Hidden");
    HWND shown = createWindow("User32 Find Shown", nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE, "Shown Title");
    HWND messageOnly = createWindow("User32 Find Message Only", HWND_MESSAGE);
    ASSERT_TRUE(hidden && shown && messageOnly);

    EXPECT_EQ(FindWindowA("user32 find HIDDEN", nullptr), hidden);
    EXPECT_EQ(FindWindowA(nullptr, "shown title"), shown);
    EXPECT_EQ(FindWindowA("User32 Find Message Only", nullptr), nullptr);
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_TRUE(IsWindowVisible(shown));

    for (HWND window : {hidden, shown, messageOnly}) EXPECT_TRUE(DestroyWindow(window));
    for (const char *name : {"User32 Find Hidden", "User32 Find Shown", "User32 Find Message Only"}) {
        EXPECT_TRUE(UnregisterClassA(name, nullptr));
    }
}

TEST(User32Classes, injectedFaultsFailWithTheArmedCode) {
    ASSERT_TRUE(platform::armFault("RegisterClassExA", 1, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(registerClass("User32 Fault Test", DefWindowProcA), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_NE(registerClass("User32 Fault Test", DefWindowProcA), 0);

    ASSERT_TRUE(platform::armFault("CreateWindowExA", 1, ERROR_OUTOFMEMORY));
    EXPECT_EQ(createWindow("User32 Fault Test"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_OUTOFMEMORY);

    MSG msg{};
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its queue
    ASSERT_TRUE(platform::armFault("PostThreadMessageA", 1, ERROR_NOT_ENOUGH_QUOTA));
    EXPECT_FALSE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "a failed post leaves nothing behind";
    EXPECT_TRUE(UnregisterClassA("User32 Fault Test", nullptr));
}
