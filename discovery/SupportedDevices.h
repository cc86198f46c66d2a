// The product's configuration: which USB printers the library drives, and the device interface classes under which
// the two drivers publish them.
#pragma once

#include <windows.h>

// The device interface class of the operating system's USB printer class driver.
extern const GUID GUID_USBPRINT_INTERFACE;
// The device interface class that the vendor's native USB printer driver registers.
extern const GUID GUID_NATIVE_USB_INTERFACE;

// Identifier texts ("vid_xxxx&pid_xxxx") searched for, case-sensitively, in a device interface path. Windows
// writes the identifiers into the path in either letter case, so each identifier pair appears in the variants its
// devices are known to use. The list ends with a null entry.
extern const char *const g_pszSupportedDevices[];

// Number of identifier pairs in the list, and the length of every entry.
const int SUPPORTED_DEVICE_PAIRS = 13;
const int SUPPORTED_DEVICE_ENTRY_LENGTH = 17;
