// GetFileSizeEx, for ordinary files.
#include "files/file_object.h"
#include "files/regular_file.h"

extern "C" BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    auto object = platform::lookupHandleAs<platform::FileObject>(hFile);
    if (!object) return FALSE;
    auto *file = dynamic_cast<platform::RegularFile *>(&object->device());
    // A device has no size.
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (lpFileSize == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    LONGLONG bytes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!file->size(bytes, error)) {
        SetLastError(error);
        return FALSE;
    }
    lpFileSize->QuadPart = bytes;
    return TRUE;
}
