// The serial-port device I/O control codes and time-out record, for builds on Linux; see windows.h.
#pragma once

#include <windows.h>

#define IOCTL_SERIAL_SET_TIMEOUTS 0x001B001Cu
#define IOCTL_SERIAL_GET_TIMEOUTS 0x001B0020u

typedef struct _SERIAL_TIMEOUTS {
    ULONG ReadIntervalTimeout;
    ULONG ReadTotalTimeoutMultiplier;
    ULONG ReadTotalTimeoutConstant;
    ULONG WriteTotalTimeoutMultiplier;
    ULONG WriteTotalTimeoutConstant;
} SERIAL_TIMEOUTS, *PSERIAL_TIMEOUTS;
