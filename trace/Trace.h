// Field diagnostics: one line per event inside the library, for a support engineer to read after a failure at a
// till. Switched on by VIRIVOREZU_TRACE (a file path, or "stderr") when the library loads; see
// docs/troubleshooting.md.
//
// Every hook is one call. With the trace off it costs one relaxed atomic load and nothing else; with it on, the
// caller formats its line on its own stack and hands it to a bounded queue under a short critical section. A
// background writer does all the disk I/O, so no library thread waits on the disk while it holds a lock or a
// pending read. A hook never changes the thread's last error.
#pragma once

#include <windows.h>

#include <atomic>

enum ETraceRole { TRACE_ROLE_JAVA = 0, TRACE_ROLE_READER = 1, TRACE_ROLE_POWER = 2 };

extern std::atomic<bool> g_bTraceOn;

inline bool TraceOn() { return g_bTraceOn.load(std::memory_order_relaxed); }

// The role the calling thread's lines show; a thread the library did not start is a Java caller.
void TraceSetRole(ETraceRole eRole);

// Out of line: the caller has checked TraceOn(). The format is printf's; the line gets the time, the thread and
// its role in front.
void TraceLine(const char *pszFormat, ...);
// The same for a failure: the writer adds the code and its system text.
void TraceFailureLine(DWORD dwError, const char *pszFormat, ...);
// A read's or write's byte count, and its first 16 bytes in hex when VIRIVOREZU_TRACE_BYTES=1.
void TraceBytesLine(const char *pszEvent, int nHandle, const void *pBytes, DWORD nCount);

template <class... Args>
inline void Trace(const char *pszFormat, Args... args) {
    if (!TraceOn()) return;
    TraceLine(pszFormat, args...);
}

template <class... Args>
inline void TraceFailure(DWORD dwError, const char *pszFormat, Args... args) {
    if (!TraceOn()) return;
    TraceFailureLine(dwError, pszFormat, args...);
}

inline void TraceBytes(const char *pszEvent, int nHandle, const void *pBytes, DWORD nCount) {
    if (!TraceOn()) return;
    TraceBytesLine(pszEvent, nHandle, pBytes, nCount);
}

// A handle as Java sees it: its low 32 bits, signed, so that INVALID_HANDLE_VALUE shows as -1.
inline int TraceHandle(HANDLE hHandle) {
    return static_cast<int>(static_cast<DWORD>(reinterpret_cast<uintptr_t>(hHandle)));
}

// Ends the writer after it has written every queued line, and closes the trace file. The next event starts it
// again. Called by the unload and by the return to the loaded state.
void StopTraceWriter();
