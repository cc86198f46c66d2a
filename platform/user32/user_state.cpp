#include "user32/user_state.h"

#include "kernel/thread_exit.h"
#include "user32/power_events.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace platform::user32 {

namespace {

// Returns whether the thread owned windows.
bool dropThreadWindows(DWORD threadId) {
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto queue = state.queues.find(threadId);
    if (queue == state.queues.end()) return false;
    std::vector<HWND> owned;
    for (auto &entry : state.windows) {
        if (entry.second.ownerThread == threadId) owned.push_back(entry.second.handle);
    }
    for (HWND hwnd : owned) removeWindow(state, hwnd);
    for (auto &message : queue->second.sent) finishSentMessage(*message, 0, false);
    state.queues.erase(queue);
    state.changed.notify_all();
    return !owned.empty();
}

// Windows destroys a thread's windows and drops its queue when the thread ends. The procedures are not called:
// the thread that would run them is gone. Senders still waiting on the thread get 0.
void onThreadExit(DWORD threadId) {
    // Only a thread that had windows: the power source's own thread has none, and ends while its stop waits.
    if (!dropThreadWindows(threadId)) return;
    // Outside the state's lock: a power source's stop may wait for its thread, which may be waiting for that lock.
    platform::syncPowerEventSource();
}

bool isAtom(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) <= 0xFFFF; }

}  // namespace

UserState &userState() {
    // The hook is added here, outside the state's lock, so that the kernel's hook list and this lock are never
    // taken in both orders.
    static UserState *state = [] {
        addThreadExitHook(onThreadExit);
        return new UserState;
    }();
    return *state;
}

MessageQueue &ensureQueue(UserState &state, DWORD threadId) { return state.queues[threadId]; }

MessageQueue *findQueue(UserState &state, DWORD threadId) {
    auto queue = state.queues.find(threadId);
    return queue == state.queues.end() ? nullptr : &queue->second;
}

Window *findWindow(UserState &state, HWND hwnd) {
    auto window = state.windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return window == state.windows.end() ? nullptr : &window->second;
}

std::string upperCase(const char *text) {
    std::string result(text ? text : "");
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

std::shared_ptr<WindowClass> findClass(UserState &state, LPCSTR name) {
    if (!name) return nullptr;
    if (isAtom(name)) {
        ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto &entry : state.classes) {
            if (entry.second->atom == atom) return entry.second;
        }
        return nullptr;
    }
    auto found = state.classes.find(upperCase(name));
    return found == state.classes.end() ? nullptr : found->second;
}

void finishSentMessage(SentMessage &message, LRESULT result, bool handled) {
    message.result = result;
    message.handled = handled;
    message.done = true;
}

void removeWindow(UserState &state, HWND hwnd) {
    Window *window = findWindow(state, hwnd);
    if (!window) return;
    window->windowClass->windowCount--;
    if (MessageQueue *queue = findQueue(state, window->ownerThread)) {
        auto &sent = queue->sent;
        for (auto &message : sent) {
            if (message->hwnd == hwnd) finishSentMessage(*message, 0, false);
        }
        sent.erase(std::remove_if(sent.begin(), sent.end(), [](auto &message) { return message->done; }), sent.end());
        auto &posted = queue->posted;
        posted.erase(std::remove_if(posted.begin(), posted.end(), [hwnd](const MSG &msg) { return msg.hwnd == hwnd; }),
                     posted.end());
    }
    state.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    state.changed.notify_all();
}

bool waitForPendingSentMessage(DWORD threadId, std::chrono::milliseconds bound) {
    UserState &state = userState();
    std::unique_lock<std::mutex> lock(state.lock);
    return state.changed.wait_for(lock, bound, [&] {
        MessageQueue *queue = findQueue(state, threadId);
        return queue && !queue->sent.empty();
    });
}

}  // namespace platform::user32
