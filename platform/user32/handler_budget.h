// The time Windows gives a window's handler of PBT_APMSUSPEND: about two seconds, after which the system sleeps
// whether the handler has returned or not. A handler still running then is reported as misuse.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform::user32 {

// Watches, from a thread of its own, one delivery of PBT_APMSUSPEND to one window for as long as it exists.
class SuspendHandlerBudget {
public:
    SuspendHandlerBudget(HWND window, DWORD ownerThread);
    SuspendHandlerBudget(const SuspendHandlerBudget &) = delete;
    SuspendHandlerBudget &operator=(const SuspendHandlerBudget &) = delete;
    // The handler has returned (or never ran): stops watching.
    ~SuspendHandlerBudget();

private:
    void watch(HWND window, DWORD ownerThread);

    std::mutex lock_;
    std::condition_variable returned_;
    bool done_ = false;
    std::thread watcher_;
};

// True for the broadcast whose handlers have a budget.
bool isSuspendBroadcast(UINT message, WPARAM wParam);

}  // namespace platform::user32
