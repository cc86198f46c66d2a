// The process heap's movable and fixed blocks (GlobalAlloc, LocalFree and their kin). As in Win32, the global and
// the local functions share one heap, so a block from either family may be freed by the other.
#pragma once

#include <windows.h>

namespace platform {

// A zero-filled fixed block of at least `bytes` bytes, freed with LocalFree; null with the last error set.
HLOCAL allocateLocal(SIZE_T bytes);

}  // namespace platform
