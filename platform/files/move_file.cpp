// MoveFileExA, for ordinary files.
#include <windows.h>

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include "files/regular_file.h"

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Without MOVEFILE_REPLACE_EXISTING Windows refuses to overwrite; rename() would replace silently.
    if ((dwFlags & MOVEFILE_REPLACE_EXISTING) == 0 && ::access(lpNewFileName, F_OK) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (::rename(lpExistingFileName, lpNewFileName) != 0) {
        SetLastError(platform::win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
