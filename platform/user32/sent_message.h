// Messages sent to a window: a direct call on the window's own thread, a hand-over to the owner's message loop
// from any other thread.
#pragma once

#include "user32/user_state.h"

namespace platform::user32 {

// Delivers a message as SendMessage does and waits for the procedure's result, running the messages that other
// threads send to the caller's own windows meanwhile (so two threads sending to each other do not deadlock).
// Returns true when the procedure ran; `result` is its result, or 0 when the window or its thread went away.
bool deliverSentMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);

// Runs every message that other threads have sent to the windows of `threadId` (the calling thread). Called
// with `lock` held; releases it while each procedure runs.
void runSentMessages(UserState &state, std::unique_lock<std::mutex> &lock, DWORD threadId);

}  // namespace platform::user32
