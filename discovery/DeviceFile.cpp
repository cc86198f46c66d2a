#include "discovery/DeviceFile.h"

namespace {

HANDLE OpenWithFlags(const char *pszPath, DWORD dwFlags) {
    return CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, dwFlags, nullptr);
}

}  // namespace

HANDLE OpenDeviceFile(const char *pszPath) { return OpenWithFlags(pszPath, 0); }

HANDLE OpenOverlappedDeviceFile(const char *pszPath) { return OpenWithFlags(pszPath, FILE_FLAG_OVERLAPPED); }

bool IsOpenHandle(HANDLE hHandle) { return hHandle != nullptr && hHandle != INVALID_HANDLE_VALUE; }
