// Test programs only: every critical-section release overwrites the thread's last error. On Windows a release may
// leave any value there (the C++ runtime's locks are known to reset it); here it is certain, so that a caller who
// reads the error of a failed call only after a release is caught on Linux too.
//
// The programs link with --wrap=LeaveCriticalSection, so that the library's calls come here and this calls the
// platform layer's own; the libraries that are deployed are linked without it and carry none of this.
#include <windows.h>

extern "C" void WINAPI __real_LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

extern "C" void WINAPI __wrap_LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    __real_LeaveCriticalSection(lpCriticalSection);
    SetLastError(VIRI_LOCK_RELEASE_JUNK_ERROR);
}
