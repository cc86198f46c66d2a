// Opening the printer's device files. Every open, test open and pipe open uses the same access and sharing: read
// and write access whichever way the handle is used, shared with every other open of the device.
#pragma once

#include <windows.h>

// A synchronous handle on an interface or pipe path; INVALID_HANDLE_VALUE when the open fails.
HANDLE OpenDeviceFile(const char *pszPath);
// The same for overlapped I/O: the printer-class read handle, on which a read stays pending.
HANDLE OpenOverlappedDeviceFile(const char *pszPath);
// Neither null nor INVALID_HANDLE_VALUE.
bool IsOpenHandle(HANDLE hHandle);
