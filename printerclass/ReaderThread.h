// The reader thread of the printer-class link; printerclass/ alone starts it and cleans up after it.
#pragma once

#include <windows.h>

// The reader thread's entry; the parameter is the port state.
DWORD WINAPI ReaderThreadProc(LPVOID pParam);
