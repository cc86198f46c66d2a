#include "user32/broadcast.h"

#include "user32/handler_budget.h"
#include "user32/sent_message.h"
#include "user32/user_state.h"

#include <memory>
#include <vector>

namespace platform {
namespace {

struct Target {
    HWND window;
    DWORD ownerThread;
};

std::vector<Target> topLevelWindows() {
    using namespace user32;
    std::vector<Target> targets;
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    for (auto entry = state.windows.rbegin(); entry != state.windows.rend(); ++entry) {
        if (!entry->second.messageOnly) targets.push_back(Target{entry->second.handle, entry->second.ownerThread});
    }
    return targets;
}

}  // namespace

int broadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    using namespace user32;
    int handled = 0;
    for (const Target &target : topLevelWindows()) {
        std::unique_ptr<SuspendHandlerBudget> budget;
        if (isSuspendBroadcast(msg, wParam)) {
            budget = std::make_unique<SuspendHandlerBudget>(target.window, target.ownerThread);
        }
        LRESULT ignored = 0;
        if (deliverSentMessage(target.window, msg, wParam, lParam, ignored)) handled++;
    }
    return handled;
}

}  // namespace platform
