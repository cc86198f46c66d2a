#include "discovery/Discovery.h"

#include <setupapi.h>
#include <string.h>

#include "discovery/SupportedDevices.h"
#include "port/KernelObject.h"
#include "trace/Trace.h"

namespace {

bool MatchesSupportedDevice(const char *pszPath) {
    for (int i = 0; g_pszSupportedDevices[i] != nullptr; ++i) {
        if (strstr(pszPath, g_pszSupportedDevices[i]) != nullptr) return true;
    }
    return false;
}

const char *InterfaceClassName(const GUID &guidClass) {
    return &guidClass == &GUID_USBPRINT_INTERFACE ? "printer-class" : "native";
}

void TraceInterface(const GUID &guidClass, DWORD nIndex, const char *pszPath, HANDLE hOpened) {
    if (!TraceOn()) return;
    bool bMatched = MatchesSupportedDevice(pszPath);
    if (hOpened == INVALID_HANDLE_VALUE) {
        TraceFailureLine(GetLastError(), "detect.interface class=%s index=%lu matched=%d opened=0 path=%s",
                         InterfaceClassName(guidClass), static_cast<unsigned long>(nIndex), bMatched ? 1 : 0, pszPath);
        return;
    }
    TraceLine("detect.interface class=%s index=%lu matched=%d opened=1 path=%s", InterfaceClassName(guidClass),
              static_cast<unsigned long>(nIndex), bMatched ? 1 : 0, pszPath);
}

// The interface path of the device goes into pszDevicePath; the device, opened as a test, is the result, empty when
// the interface's detail or its open failed.
CFileHandle OpenDeviceInterface(HDEVINFO hDevInfo, SP_DEVICE_INTERFACE_DATA *pInterfaceData, char *pszDevicePath,
                                int nSize) {
    DWORD nRequired = 0;
    SetupDiGetDeviceInterfaceDetailA(hDevInfo, pInterfaceData, nullptr, 0, &nRequired, nullptr);

    CGlobalBlock block(GlobalAlloc(GHND, nRequired));
    if (!block) return CFileHandle();
    auto *pDetail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(GlobalLock(block.Get()));
    if (pDetail == nullptr) return CFileHandle();

    CFileHandle device;
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    bool bDetail = nRequired >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) &&
                   SetupDiGetDeviceInterfaceDetailA(hDevInfo, pInterfaceData, pDetail, nRequired, nullptr, nullptr);
    // A path that leaves no room for a pipe name could never be opened as a pipe: such an interface is passed over
    // like one whose detail record was not obtained, and nothing is written past the caller's buffer.
    if (bDetail && InterfacePathFits(pDetail->DevicePath, nSize)) {
        strcpy(pszDevicePath, pDetail->DevicePath);
        device.Reset(OpenDeviceFile(pszDevicePath));
    }
    // GlobalUnlock of the last lock sets the last error to 0, as Windows documents; a failed open's code must
    // survive it.
    DWORD dwOpenError = GetLastError();
    GlobalUnlock(block.Get());
    block.Reset();
    SetLastError(dwOpenError);
    return device;
}

// The first supported device of the interface class, opened as a test; empty, with the reason in the last error,
// when none could be had.
CFileHandle FindSupportedDevice(const GUID &guidClass, char *pszDevicePath, int nSize) {
    CDeviceInfoList devInfo(SetupDiGetClassDevsA(&guidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devInfo) return CFileHandle();

    CFileHandle device;
    // Why no supported device could be had: none is there, or the open's own code for one that is.
    DWORD dwFailure = ERROR_DEVICE_NOT_CONNECTED;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    for (DWORD nIndex = 0;; ++nIndex) {
        if (!SetupDiEnumDeviceInterfaces(devInfo.Get(), nullptr, &guidClass, nIndex, &interfaceData)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            continue;
        }
        device = OpenDeviceInterface(devInfo.Get(), &interfaceData, pszDevicePath, nSize);
        TraceInterface(guidClass, nIndex, pszDevicePath, device.Get());
        if (!device) {
            if (MatchesSupportedDevice(pszDevicePath)) dwFailure = GetLastError();
            continue;
        }
        if (MatchesSupportedDevice(pszDevicePath)) break;
        device.Reset();
        memset(pszDevicePath, 0, static_cast<size_t>(nSize));
    }
    // The list goes before the failure code is set, so that its release cannot hide it.
    devInfo.Reset();
    if (!device) SetLastError(dwFailure);
    return device;
}

}  // namespace

int DetectUsbType() {
    // A path buffer of its own: detection never touches the port state.
    char szPipePath[DEVICE_PATH_SIZE] = {};
    CFileHandle pipe(OpenPipe(USB_TYPE_NATIVE, PIPE_NAME_READ, szPipePath, DEVICE_PATH_SIZE));
    if (pipe) {
        pipe.Reset();
        Trace("detect.chosen type=%d native", USB_TYPE_NATIVE);
        return USB_TYPE_NATIVE;
    }
    DWORD dwNativeError = GetLastError();
    pipe.Reset(OpenPipe(USB_TYPE_PRINTER_CLASS, PIPE_NAME_READ, szPipePath, DEVICE_PATH_SIZE));
    if (pipe) {
        pipe.Reset();
        Trace("detect.chosen type=%d printer-class", USB_TYPE_PRINTER_CLASS);
        return USB_TYPE_PRINTER_CLASS;
    }
    // A printer that is there but could not be opened (in use, say) says more than the absence of the other kind.
    if (GetLastError() == ERROR_DEVICE_NOT_CONNECTED) SetLastError(dwNativeError);
    TraceFailure(GetLastError(), "detect.chosen type=%d none", USB_TYPE_NONE);
    return USB_TYPE_NONE;
}

bool FindDevicePath(int nUsbType, char *pszDevicePath, int nSize) {
    const GUID &guidClass = nUsbType == USB_TYPE_PRINTER_CLASS ? GUID_USBPRINT_INTERFACE : GUID_NATIVE_USB_INTERFACE;
    // The device was opened only to see that it opens; its owner closes it again.
    return static_cast<bool>(FindSupportedDevice(guidClass, pszDevicePath, nSize));
}

HANDLE OpenPipe(int nUsbType, const char *pszPipeName, char *pszPipePath, int nSize) {
    if (!FindDevicePath(nUsbType, pszPipePath, nSize)) return INVALID_HANDLE_VALUE;
    if (!AppendPipeName(pszPipePath, nSize, pszPipeName)) return INVALID_HANDLE_VALUE;
    return OpenDeviceFile(pszPipePath);
}
