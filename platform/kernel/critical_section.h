// What test builds leave in the thread's last error when a critical section is released.
#pragma once

#include <windows.h>

namespace platform {

// Not a Windows error code: a value no call of the library ever reports on purpose.
const DWORD LOCK_RELEASE_JUNK_ERROR = 0x0BADC0DE;

}  // namespace platform
