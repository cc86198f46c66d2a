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

// The read pipe: a held read handle is handed out again; otherwise the printer-class transport brings up its
// receive machinery, and the native transport opens a handle that only Java keeps.
HANDLE ObtainReadHandle(int nUsbType, const char *pszPath) REQUIRES(g_UsbComm.m_guard.m_lifecycleLock) {
    if (nUsbType == USB_TYPE_PRINTER_CLASS) return g_UsbComm.OpenPrinterClassReadPipe(pszPath);
    CLockHolder lock(g_UsbComm.m_guard.m_replaceLock);
    HANDLE hHeld = g_UsbComm.m_hReadPort.load();
    if (hHeld != nullptr) return hHeld;
    HANDLE hRead = OpenDeviceFile(pszPath);
    g_UsbComm.m_guard.Adopt(hRead);
    return hRead;
}

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
    if (g_UsbComm.m_bSuspended) {
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
    g_UsbComm.m_nUsbType = nUsbType;
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

    HANDLE hPipe;
    {
        CLockHolder lifecycle(g_UsbComm.m_guard.m_lifecycleLock);
        hPipe = pszPipeName == PIPE_NAME_READ ? ObtainReadHandle(nUsbType, szPath) : g_UsbComm.OpenWritePipe(szPath);
        if (!IsOpenHandle(hPipe)) lastError.Capture();
    }
    // The power handler follows the link; a close that ran since the open above is answered here too.
    if (pszPipeName == PIPE_NAME_READ) SyncPowerHandler(&g_UsbComm);
    if (hPipe == nullptr || HandleToJava(hPipe) == HandleToJava(INVALID_HANDLE_VALUE)) return -1;

    env->SetIntField(port, field, HandleToJava(hPipe));
    return nUsbType;
}

jint ClosePipe(jint nHandle) {
    CLastErrorKeeper lastError;
    DWORD dwError = ERROR_SUCCESS;
    bool bPrinterClass;
    {
        CLockHolder lifecycle(g_UsbComm.m_guard.m_lifecycleLock);
        CLockHolder lock(g_UsbComm.m_guard.m_replaceLock);
        // The printer-class read handle is used by the reader thread without a lease, so it may only go through the
        // printer-class close, which stops the reader first. Decided under the replacement lock: a reconnect that
        // reopened the device may have been given the very value Java holds.
        bPrinterClass = g_UsbComm.IsPrinterClassHandle(nHandle);
        if (!bPrinterClass) {
            // Only handles the library opened and still holds are closed: a stale or foreign value (after a double
            // close Windows may have given it to a file of the JVM) is answered as a handle that is not open.
            HANDLE hWrite = g_UsbComm.m_hWritePort.load();
            if (hWrite != nullptr && SameJavaHandle(hWrite, nHandle)) {
                g_UsbComm.m_hWritePort = nullptr;
                g_UsbComm.ForgetLinkForResume();
            }
            if (!g_UsbComm.m_guard.Retire(HandleFromJava(nHandle))) dwError = lastError.Capture();
        }
    }
    if (bPrinterClass) return g_UsbComm.ClosePrinterClassPipe(nHandle);
    return static_cast<jint>(dwError);
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
