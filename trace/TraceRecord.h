// One queued event: its line as composed by the thread that saw it, and the failure code the writer explains.
#pragma once

#include <windows.h>

const DWORD TRACE_TEXT_SIZE = 256;

struct STraceRecord {
    char szText[TRACE_TEXT_SIZE];
    DWORD dwError;
    bool bFailure;
};
