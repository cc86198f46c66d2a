#include "port/UsbComm.h"

#include <string.h>

#include "discovery/Discovery.h"
#include "port/JavaHandle.h"

CUsbComm g_UsbComm;

CUsbComm::CUsbComm()
    : m_nUsbType(USB_TYPE_NATIVE),
      m_szDevicePath(),
      m_bReaderBusy(0),
      m_hStopEvent(nullptr),
      m_hThreadDoneEvent(nullptr),
      m_bConnected(false),
      m_hDataEvent(nullptr),
      m_bRunning(0),
      m_pCCBuffer(nullptr),
      m_hReadPort(nullptr),
      m_hWritePort(nullptr),
      m_bOpened(0),
      m_hReaderThread(nullptr),
      m_bSuspended(0) {}

CUsbComm::~CUsbComm() {}

HANDLE CUsbComm::AdoptHandle(HANDLE hHandle) {
    m_guard.Adopt(hHandle);
    return hHandle;
}

void CUsbComm::ReleaseHandleField(std::atomic<HANDLE> &field) {
    HANDLE hHandle = nullptr;
    {
        CLockHolder lock(m_guard.m_replaceLock);
        hHandle = TakeHandleField(field);
    }
    CloseTakenHandle(hHandle);
}

HANDLE CUsbComm::TakeHandleField(std::atomic<HANDLE> &field) {
    HANDLE hHandle = field.exchange(nullptr);
    if (hHandle == nullptr || hHandle == INVALID_HANDLE_VALUE) return nullptr;
    return m_guard.Withdraw(hHandle) ? hHandle : nullptr;
}

void CUsbComm::CloseTakenHandle(HANDLE hHandle) {
    if (hHandle != nullptr) m_guard.CloseWithdrawn(hHandle);
}

HANDLE CUsbComm::OpenWritePipe(const char *pszPipePath) {
    CLockHolder lock(m_guard.m_replaceLock);
    HANDLE hHeld = m_hWritePort.load();
    if (hHeld != nullptr) return hHeld;
    HANDLE hWrite = OpenDeviceFile(pszPipePath);
    if (hWrite == INVALID_HANDLE_VALUE) return hWrite;
    m_hWritePort = AdoptHandle(hWrite);
    return hWrite;
}

HANDLE CUsbComm::OpenNativeReadPipe(const char *pszPipePath) {
    CLockHolder lock(m_guard.m_replaceLock);
    HANDLE hHeld = m_hReadPort.load();
    if (hHeld != nullptr) return hHeld;
    HANDLE hRead = OpenDeviceFile(pszPipePath);
    m_guard.Adopt(hRead);
    return hRead;
}

HANDLE CUsbComm::OpenPipeForJava(int nUsbType, bool bRead, const char *pszPipePath) {
    CLockHolder lifecycle(m_guard.m_lifecycleLock);
    if (!bRead) return OpenWritePipe(pszPipePath);
    if (nUsbType == USB_TYPE_PRINTER_CLASS) return OpenPrinterClassReadPipe(pszPipePath);
    return OpenNativeReadPipe(pszPipePath);
}

bool CUsbComm::CloseJavaHandle(jint nHandle, bool *pbPrinterClass) {
    HANDLE hHandle = HandleFromJava(nHandle);
    {
        CLockHolder lifecycle(m_guard.m_lifecycleLock);
        CLockHolder lock(m_guard.m_replaceLock);
        // The printer-class read handle is used by the reader thread without a lease, so it may only go through the
        // printer-class close, which stops the reader first. Decided under the replacement lock: a reconnect that
        // reopened the device may have been given the very value Java holds.
        *pbPrinterClass = IsPrinterClassHandle(nHandle);
        if (*pbPrinterClass) return true;
        // Only handles the library opened and still holds are closed: a stale or foreign value (after a double close
        // Windows may have given it to a file of the JVM) is answered as a handle that is not open.
        HANDLE hWrite = m_hWritePort.load();
        if (hWrite != nullptr && SameJavaHandle(hWrite, nHandle)) {
            m_hWritePort = nullptr;
            ForgetLinkForResume();
        }
        if (!m_guard.Withdraw(hHandle)) return false;
    }
    // Out of service now, so nobody else closes or leases it; the wait for a blocked call's lease holds no lock.
    return m_guard.CloseWithdrawn(hHandle);
}

CHandleLease CUsbComm::RouteJavaHandle(jint nHandle, bool *pbPrinterClass) {
    CLockHolder lock(m_guard.m_replaceLock);
    *pbPrinterClass = IsPrinterClassHandle(nHandle);
    if (*pbPrinterClass) return CHandleLease();
    return m_guard.Lease(HandleFromJava(nHandle));
}

void CUsbComm::CopyDevicePath(char (&szDest)[DEVICE_PATH_SIZE]) {
    CLockHolder lock(m_guard.m_replaceLock);
    memcpy(szDest, m_szDevicePath, DEVICE_PATH_SIZE);
}
