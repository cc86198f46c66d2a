// usbInitPipe and usbClosePipe: opening and closing the printer's pipes.
#include <string.h>

#include "discovery/Discovery.h"
// Generated from UsbPort.java: an export that drifts from its Java declaration does not compile.
#include "com_qel_usb_UsbPort.h"
#include "jni/JavaBoundary.h"
#include "jni/LastErrorKeeper.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "trace/ExportTrace.h"

namespace {

jfieldID FindHandleField(JNIEnv *env, jobject port, const char *pszFieldName) {
    jclass portClass = env->GetObjectClass(port);
    jfieldID field = env->GetFieldID(portClass, pszFieldName, "I");
    env->DeleteLocalRef(portClass);
    // The library raises no Java exception: a port class without the field is a failed open.
    if (field == nullptr) env->ExceptionClear();
    return field;
}

jint InitPipe(JNIEnv *env, jobject port, jint nAccess) {
    CLastErrorKeeper lastError;
    if (g_UsbComm.IsSuspended()) {
        lastError.Set(ERROR_POWER_SUSPENDED_CODE);
        return -1;
    }

    const char *pszPipeName = nullptr;
    const char *pszFieldName = nullptr;
    if (static_cast<DWORD>(nAccess) == GENERIC_READ) {
        pszPipeName = PIPE_NAME_READ;
        pszFieldName = "hReadPort";
    } else if (static_cast<DWORD>(nAccess) == GENERIC_WRITE) {
        pszPipeName = PIPE_NAME_WRITE;
        pszFieldName = "hWritePort";
    }
    if (pszPipeName == nullptr || port == nullptr) {
        lastError.Set(ERROR_INVALID_PARAMETER);
        return -1;
    }
    jfieldID field = FindHandleField(env, port, pszFieldName);
    if (field == nullptr) {
        lastError.Set(ERROR_INVALID_PARAMETER);
        return -1;
    }

    // Detection and the lookup leave the reason in the last error: the device is not there, or its open's own code.
    int nUsbType = DetectUsbType();
    g_UsbComm.RecordUsbType(nUsbType);
    if (nUsbType < 0) {
        lastError.Capture();
        return -1;
    }

    char szPath[DEVICE_PATH_SIZE];
    memset(szPath, 0, sizeof(szPath));
    if (!FindDevicePath(nUsbType, szPath, DEVICE_PATH_SIZE)) {
        lastError.Capture();
        return -1;
    }
    if (!AppendPipeName(szPath, DEVICE_PATH_SIZE, pszPipeName)) {
        lastError.Set(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }

    HANDLE hPipe = g_UsbComm.OpenPipeForJava(nUsbType, pszPipeName == PIPE_NAME_READ, szPath);
    if (!IsOpenHandle(hPipe)) lastError.Capture();
    // The power handler follows the link; a close that ran since the open above is answered here too.
    if (pszPipeName == PIPE_NAME_READ) SyncPowerHandler(&g_UsbComm);
    if (hPipe == nullptr || HandleToJava(hPipe) == HandleToJava(INVALID_HANDLE_VALUE)) return -1;

    env->SetIntField(port, field, HandleToJava(hPipe));
    return nUsbType;
}

jint ClosePipe(jint nHandle) {
    CLastErrorKeeper lastError;
    bool bPrinterClass = false;
    if (!g_UsbComm.CloseJavaHandle(nHandle, &bPrinterClass)) return static_cast<jint>(lastError.Capture());
    if (bPrinterClass) return g_UsbComm.ClosePrinterClassPipe(nHandle);
    return static_cast<jint>(ERROR_SUCCESS);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbInitPipe(JNIEnv *env, jobject, jobject port,
                                                                       jint nAccess) {
    Trace("usbInitPipe.enter access=0x%08X", static_cast<unsigned>(nAccess));
    jint nResult = InitPipe(env, port, nAccess);
    TraceExportResult("usbInitPipe", nResult, nResult < 0);
    return nResult;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbClosePipe(JNIEnv *, jobject, jint nHandle) {
    Trace("usbClosePipe.enter h=%d", nHandle);
    jint nResult = ClosePipe(nHandle);
    // 1 is the printer-class close abandoned, which records no error code.
    TraceExportResult("usbClosePipe", nResult, nResult != 0 && nResult != 1);
    return nResult;
}
