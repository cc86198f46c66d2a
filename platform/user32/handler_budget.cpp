#include "user32/handler_budget.h"

#include <chrono>
#include <string>

#include "kernel/misuse.h"
#include "kernel/time_scale.h"

namespace platform::user32 {
namespace {

constexpr DWORD suspendBudgetMilliseconds = 2000;
// The time scale shrinks the handler's specified waits but not its work and the scheduling between them, which a
// busy machine or a sanitizer stretches to hundreds of milliseconds (and a handler may wait its turn behind a close
// from Java). So the budget is the scaled two seconds plus this much real time for that work. At small scales it
// then catches a handler that cannot finish (a write the printer never takes, a wait without end) rather than one
// whose scaled waits add up to a little more than two seconds; at full scale, a handler that overruns Windows'
// budget by more than the allowance.
constexpr std::chrono::milliseconds unscaledWorkAllowance{5000};

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
    Clock::time_point deadline = deadlineAfter(suspendBudgetMilliseconds) + unscaledWorkAllowance;
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
