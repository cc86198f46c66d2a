// Hooks that run on every thread as it ends, before its thread id can be given to another thread.
#pragma once

#include <windows.h>

namespace platform {

void addThreadExitHook(void (*hook)(DWORD threadId));

}  // namespace platform
