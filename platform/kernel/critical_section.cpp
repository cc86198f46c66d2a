// Critical sections: recursive locks owned by the thread that entered them.
#include <windows.h>

#include <mutex>

namespace platform {
namespace {

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
    // On Windows a release may leave any value in the last error; the test programs make that certain
    // (tests/instrumentation), the libraries that are deployed leave it alone.
    platform::lockOf(lpCriticalSection).unlock();
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    delete static_cast<std::recursive_mutex *>(lpCriticalSection->Impl);
    lpCriticalSection->Impl = nullptr;
}
