#include "user32/sent_message.h"

namespace platform::user32 {

void runSentMessages(UserState &state, std::unique_lock<std::mutex> &lock, DWORD threadId) {
    for (;;) {
        MessageQueue *queue = findQueue(state, threadId);
        if (!queue || queue->sent.empty()) return;
        std::shared_ptr<SentMessage> sent = queue->sent.front();
        queue->sent.pop_front();
        Window *window = findWindow(state, sent->hwnd);
        if (!window) {
            finishSentMessage(*sent, 0, false);
            state.changed.notify_all();
            continue;
        }
        WNDPROC procedure = window->procedure;
        lock.unlock();
        LRESULT result = procedure(sent->hwnd, sent->message, sent->wParam, sent->lParam);
        lock.lock();
        finishSentMessage(*sent, result, true);
        state.changed.notify_all();
    }
}

bool deliverSentMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) {
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(state.lock);
    result = 0;
    Window *window = findWindow(state, hwnd);
    if (!window) return false;
    if (window->ownerThread == self) {
        WNDPROC procedure = window->procedure;
        lock.unlock();
        result = procedure(hwnd, message, wParam, lParam);
        return true;
    }
    auto sent = std::make_shared<SentMessage>();
    sent->hwnd = hwnd;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    findQueue(state, window->ownerThread)->sent.push_back(sent);
    state.changed.notify_all();
    for (;;) {
        runSentMessages(state, lock, self);
        if (sent->done) break;
        state.changed.wait(lock);
    }
    result = sent->result;
    return sent->handled;
}

}  // namespace platform::user32

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    using namespace platform::user32;
    UserState &state = userState();
    DWORD self = GetCurrentThreadId();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        ensureQueue(state, self);
        if (!findWindow(state, hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    LRESULT result = 0;
    deliverSentMessage(hWnd, Msg, wParam, lParam, result);
    return result;
}
