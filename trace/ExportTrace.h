// The result line of an export: the value Java gets and, for a failure, the code usbGetLastError will report.
#pragma once

#include "jni/LastErrorKeeper.h"
#include "trace/Trace.h"

inline void TraceExportResult(const char *pszExport, int nResult, bool bFailed) {
    if (!TraceOn()) return;
    if (bFailed) {
        TraceFailureLine(LibraryLastError(), "%s.result result=%d", pszExport, nResult);
        return;
    }
    TraceLine("%s.result result=%d", pszExport, nResult);
}
