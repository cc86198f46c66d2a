#include "discovery/DeviceFile.h"

#include "trace/Trace.h"

namespace {

void TraceOpen(const char *pszPath, DWORD dwFlags, HANDLE hFile) {
    if (!TraceOn()) return;
    const char *pszKind = (dwFlags & FILE_FLAG_OVERLAPPED) != 0 ? "overlapped" : "synchronous";
    if (hFile == INVALID_HANDLE_VALUE) {
        TraceFailureLine(GetLastError(), "open.failed %s path=%s", pszKind, pszPath);
        return;
    }
    TraceLine("open h=%d %s path=%s", TraceHandle(hFile), pszKind, pszPath);
}

HANDLE OpenWithFlags(const char *pszPath, DWORD dwFlags) {
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, dwFlags, nullptr);
    TraceOpen(pszPath, dwFlags, hFile);
    return hFile;
}

}  // namespace

HANDLE OpenDeviceFile(const char *pszPath) { return OpenWithFlags(pszPath, 0); }

HANDLE OpenOverlappedDeviceFile(const char *pszPath) { return OpenWithFlags(pszPath, FILE_FLAG_OVERLAPPED); }

bool IsOpenHandle(HANDLE hHandle) { return hHandle != nullptr && hHandle != INVALID_HANDLE_VALUE; }
