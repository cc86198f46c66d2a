#include "port/UsbComm.h"

#include <string.h>

#include "discovery/Discovery.h"

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
    HANDLE hHandle = field.exchange(nullptr);
    if (hHandle == nullptr || hHandle == INVALID_HANDLE_VALUE) return;
    m_guard.Retire(hHandle);
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
