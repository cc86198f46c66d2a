// The library's unload: no thread of the library may outlive its code.
#include "port/UsbComm.h"
#include "power/PowerHandler.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *, void *) {
    ShutdownPowerHandler();
    g_UsbComm.StopReaderForUnload();
}
