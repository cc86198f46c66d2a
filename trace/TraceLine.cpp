// Composing an event's line on the thread that saw it.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "trace/Trace.h"
#include "trace/TraceSettings.h"
#include "trace/TraceWriter.h"

std::atomic<bool> g_bTraceOn(false);

namespace {

thread_local ETraceRole t_eRole = TRACE_ROLE_JAVA;

const char *const ROLE_NAMES[] = {"java", "reader", "power"};

// The time, the thread and its role: "  1234.567 tid=4242 java   ".
int ComposePrefix(char *pszLine, size_t nSize) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long nMicroseconds = static_cast<unsigned long long>(
        static_cast<double>(now.QuadPart - TraceLoadCounter()) * 1000000.0 / TraceCounterFrequency());
    return snprintf(pszLine, nSize, "%7llu.%03llu tid=%lu %-6s ", nMicroseconds / 1000, nMicroseconds % 1000,
                    static_cast<unsigned long>(GetCurrentThreadId()), ROLE_NAMES[t_eRole]);
}

void Enqueue(DWORD dwError, bool bFailure, const char *pszFormat, va_list args) {
    STraceRecord record;
    int nPrefix = ComposePrefix(record.szText, sizeof(record.szText));
    vsnprintf(record.szText + nPrefix, sizeof(record.szText) - static_cast<size_t>(nPrefix), pszFormat, args);
    record.dwError = dwError;
    record.bFailure = bFailure;
    TraceQueue().Push(record);
    EnsureTraceWriter();
}

}  // namespace

void TraceSetRole(ETraceRole eRole) { t_eRole = eRole; }

void TraceLine(const char *pszFormat, ...) {
    DWORD dwError = GetLastError();
    va_list args;
    va_start(args, pszFormat);
    Enqueue(ERROR_SUCCESS, false, pszFormat, args);
    va_end(args);
    SetLastError(dwError);
}

void TraceFailureLine(DWORD dwFailure, const char *pszFormat, ...) {
    DWORD dwError = GetLastError();
    va_list args;
    va_start(args, pszFormat);
    Enqueue(dwFailure, true, pszFormat, args);
    va_end(args);
    SetLastError(dwError);
}

void TraceBytesLine(const char *pszEvent, int nHandle, const void *pBytes, DWORD nCount) {
    const DWORD HEX_BYTES = 16;
    char szHex[HEX_BYTES * 2 + 1] = "";
    if (TraceShowsBytes() && pBytes != nullptr) {
        const BYTE *pb = static_cast<const BYTE *>(pBytes);
        DWORD nShown = nCount < HEX_BYTES ? nCount : HEX_BYTES;
        for (DWORD i = 0; i < nShown; ++i) snprintf(szHex + i * 2, 3, "%02X", pb[i]);
    }
    TraceLine("%s h=%d count=%lu%s%s", pszEvent, nHandle, static_cast<unsigned long>(nCount),
              szHex[0] != '\0' ? " bytes=" : "", szHex);
}
