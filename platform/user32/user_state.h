// USER32's process-wide state: window classes, windows and the threads' message queues.
//
// Everything here is guarded by the one lock of UserState, and every change that a waiting thread might care
// about (a posted or sent message, a finished sent message, a destroyed window, an ended thread) notifies
// `changed`. The lock is never held while a window procedure runs: a procedure may call USER32 again, create
// threads or take seconds.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform::user32 {

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDPROC procedure = nullptr;
    int windowCount = 0;
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> windowClass;
    WNDPROC procedure = nullptr;
    DWORD ownerThread = 0;
    DWORD style = 0;
    bool messageOnly = false;
    // Set while WM_DESTROY runs, so that a procedure calling DestroyWindow again does not destroy twice.
    bool destroying = false;
    std::string title;
};

// A message sent to a window of another thread. The sender keeps its own reference and waits for `done`.
struct SentMessage {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
    // The window procedure ran; false when the window or its thread went away first.
    bool handled = false;
};

struct MessageQueue {
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    // PostQuitMessage sets a flag rather than queueing: WM_QUIT comes only once no posted message is left.
    bool quitRequested = false;
    int quitCode = 0;
};

struct UserState {
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<WindowClass>> classes;  // by upper-case name
    std::map<std::string, ATOM> atoms;                            // atoms stay with a name, as in an atom table
    std::map<uintptr_t, Window> windows;                          // in creation order
    std::unordered_map<DWORD, MessageQueue> queues;
    uintptr_t nextWindow = 0x10010;
    ATOM nextAtom = 0xC000;
};

// Never destroyed: threads may still end, and run the exit hook, while static objects are being destroyed.
UserState &userState();

// All of the following run with userState().lock held.

// The calling thread's queue, created on its first USER call (as Windows creates it).
MessageQueue &ensureQueue(UserState &state, DWORD threadId);
MessageQueue *findQueue(UserState &state, DWORD threadId);
Window *findWindow(UserState &state, HWND hwnd);
// A class by name or by the atom RegisterClassExA returned (given as MAKEINTATOM).
std::shared_ptr<WindowClass> findClass(UserState &state, LPCSTR name);
std::string upperCase(const char *text);
// Marks a sent message finished and wakes its sender (the caller notifies `changed`).
void finishSentMessage(SentMessage &message, LRESULT result, bool handled);
// Removes a window without calling its procedure: releases its class and the senders still waiting on it.
void removeWindow(UserState &state, HWND hwnd);

// For tests: waits, at most `bound`, until a message sent to a window of `threadId` waits in its queue.
bool waitForPendingSentMessage(DWORD threadId, std::chrono::milliseconds bound);

}  // namespace platform::user32
