// The serial-port requests that the library sends to the native USB driver. The Windows headers ship ntddser.h as
// a driver-kit header that needs kernel-mode types (mingw-w64's does not compile after windows.h alone), so the
// project carries the user-mode part it needs, for Windows and Linux builds alike: the two time-out requests and
// their record, with the documented codes and layout. It takes the place of the system's header by coming first on
// the include path.
#ifndef VIRI_NTDDSER_H
#define VIRI_NTDDSER_H

#include <windows.h>

// CTL_CODE(FILE_DEVICE_SERIAL_PORT, 7 and 8, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SERIAL_SET_TIMEOUTS 0x001B001Cu
#define IOCTL_SERIAL_GET_TIMEOUTS 0x001B0020u

typedef struct _SERIAL_TIMEOUTS {
    ULONG ReadIntervalTimeout;
    ULONG ReadTotalTimeoutMultiplier;
    ULONG ReadTotalTimeoutConstant;
    ULONG WriteTotalTimeoutMultiplier;
    ULONG WriteTotalTimeoutConstant;
} SERIAL_TIMEOUTS, *PSERIAL_TIMEOUTS;

#endif
