// Helpers for the USER32 tests: a thread that owns a window, and a one-shot gate between threads.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace user32_test {

constexpr std::chrono::seconds generousBound{60};

class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        opened_.notify_all();
    }
    bool wait() {
        std::unique_lock<std::mutex> lock(lock_);
        return opened_.wait_for(lock, generousBound, [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

inline ATOM registerClass(const char *name, WNDPROC procedure) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass);
}

inline HWND createWindow(const char *className, HWND parent = nullptr, DWORD style = WS_OVERLAPPEDWINDOW,
                         const char *title = nullptr) {
    return CreateWindowExA(0, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           parent, nullptr, nullptr, nullptr);
}

// A thread that creates one window and then runs `body` (by default a message loop that ends at WM_QUIT).
class WindowThread {
public:
    using Body = std::function<void(HWND)>;

    explicit WindowThread(const char *className, HWND parent = nullptr, Body body = {}) : loops_(!body) {
        std::promise<void> ready;
        auto created = ready.get_future();
        thread_ = std::thread([this, className, parent, body, ready = std::move(ready)]() mutable {
            threadId_ = GetCurrentThreadId();
            window_ = createWindow(className, parent);
            ready.set_value();
            if (body) {
                body(window_);
            } else {
                runMessageLoop();
            }
        });
        EXPECT_EQ(created.wait_for(generousBound), std::future_status::ready);
    }
    // A test that stopped early leaves a message loop running; it is ended here so that the test fails instead
    // of hanging.
    ~WindowThread() {
        if (!thread_.joinable()) return;
        if (loops_) PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

    HWND window() const { return window_; }
    DWORD threadId() const { return threadId_; }
    // Ends a message-loop thread with WM_QUIT and waits for it; returns the loop's exit code.
    WPARAM quit(WPARAM exitCode) {
        EXPECT_TRUE(PostThreadMessageA(threadId_, WM_QUIT, exitCode, 0));
        join();
        return exitCode_;
    }
    void join() { thread_.join(); }
    // Messages GetMessageA returned to the loop, WM_QUIT excluded.
    int retrieved() const { return retrieved_; }

private:
    void runMessageLoop() {
        MSG msg{};
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            retrieved_++;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        exitCode_ = msg.wParam;
    }

    bool loops_;
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
    int retrieved_ = 0;
    WPARAM exitCode_ = 0;
};

}  // namespace user32_test
