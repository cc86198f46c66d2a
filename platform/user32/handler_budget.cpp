#include "user32/handler_budget.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "kernel/misuse.h"
#include "kernel/time_scale.h"

namespace platform::user32 {
namespace {

constexpr DWORD suspendBudgetMilliseconds = 2000;
// The time scale shrinks the handler's waits but not the threads' scheduling and work between them, which on a
// busy machine take milliseconds of their own, and a handler may wait its turn behind a close from Java: at a small
// scale the budget never drops below this. A handler that cannot finish (a write the printer never takes) overruns
// any floor.
constexpr std::chrono::milliseconds unscaledFloor{500};

}  // namespace

SuspendHandlerBudget::SuspendHandlerBudget(HWND window, DWORD ownerThread)
    : watcher_([this, window, ownerThread] { watch(window, ownerThread); }) {}

SuspendHandlerBudget::~SuspendHandlerBudget() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        done_ = true;
    }
    returned_.notify_all();
    watcher_.join();
}

void SuspendHandlerBudget::watch(HWND window, DWORD ownerThread) {
    Clock::time_point deadline = std::max(deadlineAfter(suspendBudgetMilliseconds), Clock::now() + unscaledFloor);
    std::unique_lock<std::mutex> lock(lock_);
    if (returned_.wait_until(lock, deadline, [this] { return done_; })) return;
    reportMisuse("WM_POWERBROADCAST",
                 "suspend handler still running after the 2 s budget, on thread " + std::to_string(ownerThread),
                 reinterpret_cast<HANDLE>(window));
}

bool isSuspendBroadcast(UINT message, WPARAM wParam) {
    return message == WM_POWERBROADCAST && wParam == PBT_APMSUSPEND;
}

}  // namespace platform::user32
