// The system's clocks: GetTickCount64 and the performance counter run in real time, as on Windows, whatever the
// layer's time scale; GetLocalTime is the wall clock.
#include <windows.h>

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {

const LONGLONG NANOSECONDS_PER_SECOND = 1000000000;

LONGLONG monotonicNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<LONGLONG>(now.tv_sec) * NANOSECONDS_PER_SECOND + now.tv_nsec;
}

}  // namespace

extern "C" ULONGLONG WINAPI GetTickCount64(void) { return static_cast<ULONGLONG>(monotonicNanoseconds() / 1000000); }

extern "C" BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount) {
    lpPerformanceCount->QuadPart = monotonicNanoseconds();
    return TRUE;
}

extern "C" BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency) {
    lpFrequency->QuadPart = NANOSECONDS_PER_SECOND;
    return TRUE;
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm local;
    localtime_r(&seconds, &local);
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

extern "C" DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
