// System broadcasts to every top-level window, such as WM_POWERBROADCAST.
#pragma once

#include <windows.h>

namespace platform {

// Sends the message to every top-level window (message-only windows excluded), one after another, each through
// its owner thread's message loop (directly when the caller owns it), waiting for each procedure's result.
// Returns how many windows handled it; a window whose thread ends before its procedure ran does not count.
int broadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace platform
