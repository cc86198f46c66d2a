// Critical sections: recursive locks owned by the thread that entered them.
#include <windows.h>

#include <mutex>

#include "kernel/critical_section.h"

namespace platform {
namespace {

// On Windows a lock release may leave any value in the thread's last error (the C++ runtime's locks are known to
// reset it). Test builds make that certain, so that a caller who reads the error of a failed call only after a
// release is caught on Linux too.
#ifndef VIRI_JUNK_ERROR_ON_RELEASE
#define VIRI_JUNK_ERROR_ON_RELEASE 0
#endif
constexpr bool junkErrorOnRelease = VIRI_JUNK_ERROR_ON_RELEASE != 0;

std::recursive_mutex &lockOf(LPCRITICAL_SECTION section) { return *static_cast<std::recursive_mutex *>(section->Impl); }

}  // namespace

}  // namespace platform

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    lpCriticalSection->Impl = new std::recursive_mutex;
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    platform::lockOf(lpCriticalSection).lock();
}

extern "C" BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    return platform::lockOf(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    platform::lockOf(lpCriticalSection).unlock();
    if (platform::junkErrorOnRelease) SetLastError(platform::LOCK_RELEASE_JUNK_ERROR);
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    delete static_cast<std::recursive_mutex *>(lpCriticalSection->Impl);
    lpCriticalSection->Impl = nullptr;
}
