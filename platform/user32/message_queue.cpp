// Posted messages and the message loop: GetMessageA, PeekMessageA, PostThreadMessageA, PostQuitMessage,
// TranslateMessage, DispatchMessageA.
#include "kernel/faults.h"
#include "user32/sent_message.h"
#include "user32/user_state.h"

namespace platform::user32 {

namespace {

// Windows refuses more than this many posted messages waiting in one queue.
constexpr size_t postedMessageLimit = 10000;

HWND threadMessagesOnly() { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)); }

DWORD tickCount() {
    auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool inRange(UINT message, UINT filterMin, UINT filterMax) {
    if (message == WM_QUIT) return true;  // retrieved whatever the range
    if (filterMin == 0 && filterMax == 0) return true;
    return message >= filterMin && message <= filterMax;
}

bool forFilterWindow(HWND messageWindow, HWND filter) {
    if (!filter) return true;
    if (filter == threadMessagesOnly()) return messageWindow == nullptr;
    return messageWindow == filter;
}

// A filter window must exist and belong to the caller; it can be destroyed while GetMessageA waits.
bool validFilter(UserState &state, HWND filter, DWORD self) {
    if (!filter || filter == threadMessagesOnly()) return true;
    Window *window = findWindow(state, filter);
    return window && window->ownerThread == self;
}

// The first posted message that passes the filters; once none is left, the quit request.
bool nextMessage(MessageQueue &queue, HWND filter, UINT filterMin, UINT filterMax, bool remove, MSG &msg) {
    for (auto posted = queue.posted.begin(); posted != queue.posted.end(); ++posted) {
        if (!forFilterWindow(posted->hwnd, filter) || !inRange(posted->message, filterMin, filterMax)) continue;
        msg = *posted;
        if (remove) queue.posted.erase(posted);
        return true;
    }
    if (!queue.quitRequested) return false;
    msg = MSG{};
    msg.message = WM_QUIT;
    msg.wParam = static_cast<WPARAM>(static_cast<INT_PTR>(queue.quitCode));
    msg.time = tickCount();
    if (remove) queue.quitRequested = false;
    return true;
}

}  // namespace

}  // namespace platform::user32

using namespace platform::user32;

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(state.lock);
    MessageQueue &queue = ensureQueue(state, self);
    for (;;) {
        runSentMessages(state, lock, self);
        if (!validFilter(state, hWnd, self)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        if (nextMessage(queue, hWnd, wMsgFilterMin, wMsgFilterMax, true, *lpMsg)) {
            return lpMsg->message == WM_QUIT ? 0 : 1;
        }
        state.changed.wait(lock);
    }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(state.lock);
    MessageQueue &queue = ensureQueue(state, self);
    runSentMessages(state, lock, self);
    if (!validFilter(state, hWnd, self)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool remove = (wRemoveMsg & PM_REMOVE) != 0;
    return nextMessage(queue, hWnd, wMsgFilterMin, wMsgFilterMax, remove, *lpMsg) ? TRUE : FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (platform::injectedFault("PostThreadMessageA")) return FALSE;
    UserState &state = userState();
    std::lock_guard<std::mutex> guard(state.lock);
    MessageQueue *queue = findQueue(state, idThread);
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (queue->posted.size() >= postedMessageLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    MSG msg{};
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = tickCount();
    queue->posted.push_back(msg);
    state.changed.notify_all();
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    std::lock_guard<std::mutex> guard(state.lock);
    MessageQueue &queue = ensureQueue(state, self);
    queue.quitRequested = true;
    queue.quitCode = nExitCode;
    state.changed.notify_all();
}

// No keyboard input reaches this layer, so there is never a key message to turn into a character message.
BOOL WINAPI TranslateMessage(const MSG *lpMsg) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpMsg->hwnd) return 0;  // a thread message has no window procedure
    WNDPROC procedure = nullptr;
    DWORD self = GetCurrentThreadId();
    {
        UserState &state = userState();
        std::lock_guard<std::mutex> guard(state.lock);
        Window *window = findWindow(state, lpMsg->hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (window->ownerThread != self) {
            SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
            return 0;
        }
        procedure = window->procedure;
    }
    return procedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}
