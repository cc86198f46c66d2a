// The library's unload: no thread of the library may outlive its code.
#include "jni/LibraryUnload.h"

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "trace/Trace.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *, void *) {
    Trace("unload");
    ShutdownPowerHandler();
    g_UsbComm.StopReaderForUnload();
    StopTraceWriter();
}

void ReturnToLoadedState() {
    // The power thread goes first: a resume it is running could otherwise reopen the link after the close below.
    ShutdownPowerHandler();
    g_UsbComm.ClosePrinterClassPipe(0);
    g_UsbComm.EndSuspensionForUnload();
    StopTraceWriter();
}

bool IsPowerSuspended() { return g_UsbComm.IsSuspended(); }
