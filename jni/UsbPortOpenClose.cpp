// usbInitPipe and usbClosePipe: opening and closing the printer's pipes.
#include <string.h>

#include <mutex>

#include "discovery/DeviceFile.h"
#include "discovery/PipePath.h"
#include "jni/JavaBoundary.h"
#include "jni/LastErrorKeeper.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"

namespace {

// The read pipe: a held read handle is handed out again; otherwise the printer-class transport brings up its
// receive machinery, and the native transport opens a handle that only Java keeps.
HANDLE ObtainReadHandle(int nUsbType, const char *pszPath, bool *pbStartPowerHandler) {
    if (nUsbType == USB_TYPE_PRINTER_CLASS) return g_UsbComm.OpenPrinterClassReadPipe(pszPath, pbStartPowerHandler);
    std::lock_guard<std::recursive_mutex> lock(g_UsbComm.m_guard.ReplaceLock());
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

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbInitPipe(JNIEnv *env, jobject, jobject port,
                                                                       jint nAccess) {
    if (g_UsbComm.m_bSuspended) return -1;

    const char *pszPipeName = nullptr;
    const char *pszFieldName = nullptr;
    if (static_cast<DWORD>(nAccess) == GENERIC_READ) {
        pszPipeName = PIPE_NAME_READ;
        pszFieldName = "hReadPort";
    } else if (static_cast<DWORD>(nAccess) == GENERIC_WRITE) {
        pszPipeName = PIPE_NAME_WRITE;
        pszFieldName = "hWritePort";
    }
    CLastErrorKeeper lastError;
    if (pszPipeName == nullptr || port == nullptr) {
        lastError.Set(ERROR_INVALID_PARAMETER);
        return -1;
    }
    jfieldID field = FindHandleField(env, port, pszFieldName);
    if (field == nullptr) {
        lastError.Set(ERROR_INVALID_PARAMETER);
        return -1;
    }

    int nUsbType = DetectUsbType();
    g_UsbComm.m_nUsbType = nUsbType;
    if (nUsbType < 0) return -1;

    char szPath[DEVICE_PATH_SIZE];
    memset(szPath, 0, sizeof(szPath));
    if (!g_UsbComm.FindDevicePath(nUsbType, szPath, DEVICE_PATH_SIZE)) return -1;
    if (!AppendPipeName(szPath, DEVICE_PATH_SIZE, pszPipeName)) return -1;

    HANDLE hPipe;
    bool bStartPowerHandler = false;
    {
        std::lock_guard<std::mutex> lifecycle(g_UsbComm.m_guard.LifecycleLock());
        hPipe = pszPipeName == PIPE_NAME_READ ? ObtainReadHandle(nUsbType, szPath, &bStartPowerHandler)
                                              : g_UsbComm.OpenWritePipe(szPath);
    }
    if (bStartPowerHandler) StartPowerHandler(&g_UsbComm);
    if (hPipe == nullptr || HandleToJava(hPipe) == HandleToJava(INVALID_HANDLE_VALUE)) return -1;

    env->SetIntField(port, field, HandleToJava(hPipe));
    return nUsbType;
}

namespace {

// The printer-class read handle is used by the reader thread without a lease, so it may only go through the
// printer-class close, which stops the reader first; this holds even when a later detection recorded another type.
bool IsPrinterClassReadHandle(jint nHandle) {
    HANDLE hRead = g_UsbComm.m_hReadPort.load();
    return hRead != nullptr && SameJavaHandle(hRead, nHandle);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbClosePipe(JNIEnv *, jobject, jint nHandle) {
    if (g_UsbComm.m_nUsbType == USB_TYPE_PRINTER_CLASS || IsPrinterClassReadHandle(nHandle)) {
        return g_UsbComm.ClosePrinterClassPipe(nHandle);
    }

    // Only handles the library opened and still holds are closed: a stale or foreign value (after a double close
    // Windows may have given it to a file of the JVM) is answered as a handle that is not open.
    CLastErrorKeeper lastError;
    DWORD dwError = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lifecycle(g_UsbComm.m_guard.LifecycleLock());
        std::lock_guard<std::recursive_mutex> lock(g_UsbComm.m_guard.ReplaceLock());
        HANDLE hWrite = g_UsbComm.m_hWritePort.load();
        if (hWrite != nullptr && SameJavaHandle(hWrite, nHandle)) g_UsbComm.m_hWritePort = nullptr;
        if (!g_UsbComm.m_guard.Retire(HandleFromJava(nHandle))) dwError = lastError.Capture();
    }
    return static_cast<jint>(dwError);
}
