#include "user32/broadcast.h"

#include "user32/sent_message.h"
#include "user32/user_state.h"

#include <vector>

namespace platform {

int broadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    using namespace user32;
    std::vector<HWND> targets;
    {
        UserState &state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        for (auto entry = state.windows.rbegin(); entry != state.windows.rend(); ++entry) {
            if (!entry->second.messageOnly) targets.push_back(entry->second.handle);
        }
    }
    int handled = 0;
    for (HWND hwnd : targets) {
        LRESULT ignored = 0;
        if (deliverSentMessage(hwnd, msg, wParam, lParam, ignored)) handled++;
    }
    return handled;
}

}  // namespace platform
