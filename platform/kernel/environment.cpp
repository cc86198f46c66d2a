// GetEnvironmentVariableA, over the process environment.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

extern "C" DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    const char *value = lpName == nullptr ? nullptr : getenv(lpName);
    if (value == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(value);
    // Too small a buffer: the size it needs, terminator included, and nothing copied.
    if (lpBuffer == nullptr || length >= nSize) return static_cast<DWORD>(length + 1);
    memcpy(lpBuffer, value, length + 1);
    return static_cast<DWORD>(length);
}
