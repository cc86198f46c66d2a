#include "jni/LastErrorKeeper.h"

namespace {
thread_local DWORD t_dwLibraryLastError = ERROR_SUCCESS;
}

DWORD LibraryLastError() { return t_dwLibraryLastError; }

void RecordLibraryLastError(DWORD dwError) { t_dwLibraryLastError = dwError; }
