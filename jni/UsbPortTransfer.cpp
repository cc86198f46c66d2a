// Reading, writing, the driver's time-outs, purging, and the error services.
#include <ntddser.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>

// Generated from UsbPort.java: an export that drifts from its Java declaration does not compile.
#include "com_qel_usb_UsbPort.h"
#include "jni/JavaBoundary.h"
#include "jni/LastErrorKeeper.h"
#include "port/UsbComm.h"
#include "trace/ExportTrace.h"

namespace {

// A Java read on the printer-class transport never touches the device: it is served from the ring buffer that
// the reader thread fills, waiting for data at most this long.
const DWORD PRINTER_CLASS_READ_TIMEOUT = 180000;

// Fills the buffer from the ring buffer; false when nothing was delivered.
bool ReadPrinterClass(BYTE *pBuffer, DWORD nLength, DWORD *pnRead) {
    if (g_UsbComm.IsSuspended()) {
        SetLastError(ERROR_POWER_SUSPENDED_CODE);
        return false;
    }
    int nResult;
    do {
        *pnRead = 0;
        nResult = g_UsbComm.TimedRead(pBuffer, nLength, pnRead, PRINTER_CLASS_READ_TIMEOUT);
    } while (nResult != 0 && *pnRead == 0);
    return nResult != 0;
}

bool ReadNative(const CHandleLease &lease, BYTE *pBuffer, DWORD nLength, DWORD *pnRead) {
    if (!lease) return false;
    return ReadFile(lease.Get(), pBuffer, nLength, pnRead, nullptr) != FALSE;
}

bool GetTimeouts(HANDLE hDevice, SERIAL_TIMEOUTS *pTimeouts) {
    DWORD nReturned = 0;
    return DeviceIoControl(hDevice, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, pTimeouts, sizeof(SERIAL_TIMEOUTS),
                           &nReturned, nullptr) != FALSE;
}

// The driver marks a member it does not let callers change with this value; such a member keeps it.
const ULONG TIMEOUT_KEEP = 0xFFFFFFFE;

void MergeTimeout(ULONG &nMember, jint nValue) {
    if (nMember != TIMEOUT_KEEP) nMember = static_cast<ULONG>(nValue);
}

// A request that succeeded reports 0, whatever an earlier failure left in the thread's last-error value.
jint RequestResult(CLastErrorKeeper &lastError, BOOL bSucceeded) {
    return bSucceeded ? 0 : static_cast<jint>(lastError.Capture());
}

jint ReadInputPipe(JNIEnv *env, jint nHandle, jbyteArray array) {
    CLastErrorKeeper lastError;
    if (array == nullptr) {
        lastError.Set(ERROR_INVALID_PARAMETER);
        return -1;
    }
    jsize nLength = env->GetArrayLength(array);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[static_cast<size_t>(nLength) + 1]);
    if (!buffer) {
        lastError.Set(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }

    DWORD nRead = 0;
    bool bPrinterClass = false;
    bool bRead;
    {
        CHandleLease lease = g_UsbComm.RouteJavaHandle(nHandle, &bPrinterClass);
        bRead = bPrinterClass ? ReadPrinterClass(buffer.get(), static_cast<DWORD>(nLength), &nRead)
                              : ReadNative(lease, buffer.get(), static_cast<DWORD>(nLength), &nRead);
        // Captured before the lease goes back: its return is a lock release.
        if (!bRead) lastError.Capture();
    }
    if (!bRead) return -1;
    if (nRead > static_cast<DWORD>(nLength)) nRead = static_cast<DWORD>(nLength);
    TraceBytes("usbReadInputPipe.bytes", nHandle, buffer.get(), nRead);
    if (nRead > 0) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(nRead), reinterpret_cast<jbyte *>(buffer.get()));
    }
    return static_cast<jint>(nRead);
}

jint WriteOutputPipe(JNIEnv *env, jbyteArray array) {
    CLastErrorKeeper lastError;
    if (array == nullptr) return static_cast<jint>(lastError.Set(ERROR_INVALID_PARAMETER));
    jsize nLength = env->GetArrayLength(array);
    jbyte *pElements = env->GetByteArrayElements(array, nullptr);
    if (pElements == nullptr) {
        env->ExceptionClear();
        return static_cast<jint>(lastError.Set(ERROR_NOT_ENOUGH_MEMORY));
    }

    DWORD dwError = ERROR_SUCCESS;
    if (g_UsbComm.IsSuspended()) {
        dwError = lastError.Set(ERROR_POWER_SUSPENDED_CODE);
    } else {
        CHandleLease lease = g_UsbComm.LeaseWriteHandle();
        DWORD nWritten = 0;
        if (!lease || !WriteFile(lease.Get(), pElements, static_cast<DWORD>(nLength), &nWritten, nullptr)) {
            dwError = lastError.Capture();
        }
        TraceBytes("usbWriteOutputPipe.bytes", TraceHandle(lease.Get()), pElements, nWritten);
    }
    env->ReleaseByteArrayElements(array, pElements, 0);
    return static_cast<jint>(dwError);
}

jint GetCommTimeout(jint nHandle) {
    CLastErrorKeeper lastError;
    bool bPrinterClass = false;
    CHandleLease lease = g_UsbComm.RouteJavaHandle(nHandle, &bPrinterClass);
    if (bPrinterClass) return 1;
    SERIAL_TIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));
    if (!lease || !GetTimeouts(lease.Get(), &timeouts)) return static_cast<jint>(lastError.Capture());
    return static_cast<jint>(timeouts.ReadTotalTimeoutConstant);
}

jint SetCommTimeout(jint nHandle, jint nReadInterval, jint nReadTotalMultiplier, jint nReadTotalConstant,
                    jint nWriteTotalMultiplier, jint nWriteTotalConstant) {
    CLastErrorKeeper lastError;
    bool bPrinterClass = false;
    CHandleLease lease = g_UsbComm.RouteJavaHandle(nHandle, &bPrinterClass);
    if (bPrinterClass) return 1;
    if (!lease) return static_cast<jint>(lastError.Capture());

    // When the current record cannot be read, the members start from zero rather than from whatever the stack held.
    SERIAL_TIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));
    if (!GetTimeouts(lease.Get(), &timeouts)) memset(&timeouts, 0, sizeof(timeouts));
    MergeTimeout(timeouts.ReadIntervalTimeout, nReadInterval);
    MergeTimeout(timeouts.ReadTotalTimeoutMultiplier, nReadTotalMultiplier);
    MergeTimeout(timeouts.ReadTotalTimeoutConstant, nReadTotalConstant);
    MergeTimeout(timeouts.WriteTotalTimeoutMultiplier, nWriteTotalMultiplier);
    MergeTimeout(timeouts.WriteTotalTimeoutConstant, nWriteTotalConstant);

    DWORD nReturned = 0;
    return RequestResult(lastError, DeviceIoControl(lease.Get(), IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof(timeouts),
                                                    nullptr, 0, &nReturned, nullptr));
}

jint PurgeRequest(jint nHandle) {
    CLastErrorKeeper lastError;
    bool bPrinterClass = false;
    CHandleLease lease = g_UsbComm.RouteJavaHandle(nHandle, &bPrinterClass);
    if (bPrinterClass) return 1;
    if (!lease) return static_cast<jint>(lastError.Capture());
    return RequestResult(lastError, PurgeComm(lease.Get(), PURGE_RXABORT | PURGE_RXCLEAR));
}

jstring GetErrorString(JNIEnv *env, jint nCode) {
    char *pszSystemText = nullptr;
    DWORD nLength =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, static_cast<DWORD>(nCode), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<LPSTR>(&pszSystemText), 0, nullptr);
    if (nLength > 0 && pszSystemText != nullptr) {
        jstring text = NewJavaStringFromAnsi(env, pszSystemText);
        LocalFree(pszSystemText);
        return text;
    }
    char szText[256];
    if (g_UsbComm.IsSuspended()) {
        snprintf(szText, sizeof(szText), "Power Suspended\n");
    } else {
        snprintf(szText, sizeof(szText), "FormatMessage failed: %d\n", 0);
    }
    return env->NewStringUTF(szText);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbReadInputPipe(JNIEnv *env, jobject, jint nHandle,
                                                                            jbyteArray array) {
    Trace("usbReadInputPipe.enter h=%d", nHandle);
    jint nResult = ReadInputPipe(env, nHandle, array);
    TraceExportResult("usbReadInputPipe", nResult, nResult < 0);
    return nResult;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbWriteOutputPipe(JNIEnv *env, jobject, jint nHandle,
                                                                              jbyteArray array) {
    Trace("usbWriteOutputPipe.enter h=%d", nHandle);
    jint nResult = WriteOutputPipe(env, array);
    TraceExportResult("usbWriteOutputPipe", nResult, nResult != 0);
    return nResult;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetCommTimeout(JNIEnv *, jobject, jint nHandle) {
    Trace("usbGetCommTimeout.enter h=%d", nHandle);
    jint nResult = GetCommTimeout(nHandle);
    // The result is a time-out or an error code; which one only the caller's next usbGetLastError tells.
    TraceExportResult("usbGetCommTimeout", nResult, false);
    return nResult;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbSetCommTimeout(
    JNIEnv *, jobject, jint nHandle, jint nReadInterval, jint nReadTotalMultiplier, jint nReadTotalConstant,
    jint nWriteTotalMultiplier, jint nWriteTotalConstant) {
    Trace("usbSetCommTimeout.enter h=%d", nHandle);
    jint nResult = SetCommTimeout(nHandle, nReadInterval, nReadTotalMultiplier, nReadTotalConstant,
                                  nWriteTotalMultiplier, nWriteTotalConstant);
    TraceExportResult("usbSetCommTimeout", nResult, nResult != 0 && nResult != 1);
    return nResult;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbPurgeRequest(JNIEnv *, jobject, jint nHandle) {
    Trace("usbPurgeRequest.enter h=%d", nHandle);
    jint nResult = PurgeRequest(nHandle);
    TraceExportResult("usbPurgeRequest", nResult, nResult != 0 && nResult != 1);
    return nResult;
}

extern "C" JNIEXPORT jstring JNICALL Java_com_qel_usb_UsbPort_usbGetErrorString(JNIEnv *env, jobject, jint nCode) {
    Trace("usbGetErrorString.enter code=%d", nCode);
    jstring text = GetErrorString(env, nCode);
    Trace("usbGetErrorString.result text=%s", text != nullptr ? "yes" : "none");
    return text;
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetGenericReadValue(JNIEnv *, jobject) {
    Trace("usbGetGenericReadValue");
    return static_cast<jint>(GENERIC_READ);
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetGenericWriteValue(JNIEnv *, jobject) {
    Trace("usbGetGenericWriteValue");
    return static_cast<jint>(GENERIC_WRITE);
}

extern "C" JNIEXPORT jint JNICALL Java_com_qel_usb_UsbPort_usbGetLastError(JNIEnv *, jobject) {
    jint nResult = static_cast<jint>(LibraryLastError());
    Trace("usbGetLastError.result result=%d", nResult);
    return nResult;
}
