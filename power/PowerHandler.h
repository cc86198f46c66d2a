// The power handler: a hidden top-level window on a thread of its own that receives the system's power broadcasts
// and hands suspend and resume to the port state.
#pragma once

#include <windows.h>

#include <atomic>

class CUsbComm;

// Id of the newest power thread; 0 until the first start.
extern std::atomic<DWORD> g_nPowerThreadId;
// The port state whose suspend and resume handling the window procedure runs.
extern std::atomic<CUsbComm *> g_pPowerTarget;

bool StartPowerHandler(CUsbComm *target);
void StopPowerHandler();
// Stops the power thread and waits for it to end; for the library's unload, after which its code is gone.
void ShutdownPowerHandler();

ATOM RegisterPowerWindowClass();
unsigned WINAPI PowerHandlerThread(void *pParam);
LRESULT CALLBACK PowerHandlerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
