// The power handler, the front door of power/: a hidden top-level window on a thread of its own that receives the
// system's power broadcasts and hands suspend and resume to the port state. The opens and closes of the link call
// SyncPowerHandler, the unload ShutdownPowerHandler; the suspend and resume handling themselves are operations of
// the port state (port/UsbComm.h), since they release and reopen its link.
#pragma once

#include <windows.h>

#include <atomic>

class CUsbComm;

// The port state whose suspend and resume handling the window procedure runs.
extern std::atomic<CUsbComm *> g_pPowerTarget;

bool StartPowerHandler(CUsbComm *target);
void StopPowerHandler();
// The stop for the close of the link: while the port state is suspended the power thread keeps running, so that the
// resume broadcast still reaches it. Decided under the same lock as the start of a suspend on the power thread:
// either the suspend comes first and the thread stays, or the suspend finds the thread stopping and does not begin.
void StopPowerHandlerUnlessSuspended(CUsbComm *pComm);
// Starts the power handler while the printer-class link is up, and stops it (unless suspended) while it is not; the
// opens and closes of the link call it after their change, with the port state's lifecycle lock released.
void SyncPowerHandler(CUsbComm *pComm);
// Stops the power thread and waits for it to end; for the library's unload, after which its code is gone.
void ShutdownPowerHandler();

ATOM RegisterPowerWindowClass();
unsigned WINAPI PowerHandlerThread(void *pParam);
LRESULT CALLBACK PowerHandlerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
