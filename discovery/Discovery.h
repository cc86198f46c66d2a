// Device discovery, the front door of discovery/: finds the supported printer among the device interfaces that the
// two drivers publish, tells which transport it is on, and composes and opens its pipe paths. Every path goes into
// a buffer the caller names; discovery keeps no state of its own and never touches the port state.
#pragma once

#include <windows.h>

#include "discovery/DeviceFile.h"
#include "discovery/PipePath.h"

// Transport types.
const int USB_TYPE_NATIVE = 0;
const int USB_TYPE_PRINTER_CLASS = 1;
const int USB_TYPE_NONE = -1;

// Size of every device and pipe path buffer.
const int DEVICE_PATH_SIZE = 256;

// Transport detection: USB_TYPE_NATIVE, USB_TYPE_PRINTER_CLASS, or USB_TYPE_NONE with the reason in the last
// error when no supported device's read pipe opens.
int DetectUsbType();

// The interface path of the first supported device of the transport, written into pszDevicePath (nSize bytes).
// False, with the reason in the last error and the buffer as it was, when none could be had.
bool FindDevicePath(int nUsbType, char *pszDevicePath, int nSize);

// Finds the device as FindDevicePath does, composes "<interface path>\<pipe name>" in pszPipePath and opens it
// synchronously. INVALID_HANDLE_VALUE, with the reason in the last error, when a step fails.
HANDLE OpenPipe(int nUsbType, const char *pszPipeName, char *pszPipePath, int nSize);
