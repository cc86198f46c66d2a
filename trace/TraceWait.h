// A bounded wait as the trace shows it: what was waited for, its bound, how it ended and how long it took. The
// clock is read only while the trace is on.
#pragma once

#include <windows.h>

#include "trace/Trace.h"

class CTraceWait {
public:
    CTraceWait(const char *pszWhat, DWORD dwBound)
        : m_pszWhat(pszWhat), m_dwBound(dwBound), m_nStart(TraceOn() ? GetTickCount64() : 0) {}

    // Passes the wait's result through.
    DWORD End(DWORD dwResult) const {
        if (!TraceOn()) return dwResult;
        DWORD dwError = GetLastError();
        TraceLine("%s bound=%lu result=%s waited=%llu", m_pszWhat, static_cast<unsigned long>(m_dwBound),
                  ResultName(dwResult), static_cast<unsigned long long>(GetTickCount64() - m_nStart));
        SetLastError(dwError);
        return dwResult;
    }

private:
    static const char *ResultName(DWORD dwResult) {
        if (dwResult == WAIT_OBJECT_0) return "signalled";
        if (dwResult == WAIT_TIMEOUT) return "timeout";
        if (dwResult == WAIT_FAILED) return "failed";
        return "other";
    }

    const char *m_pszWhat;
    DWORD m_dwBound;
    ULONGLONG m_nStart;
};
