#include "discovery/SupportedDevices.h"

// {28d78fad-5a12-11d1-ae5b-0000f803a8c2}
const GUID GUID_USBPRINT_INTERFACE = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

// {5d7b9c41-3a8e-4f62-b1d0-9e27c4a6f813}
const GUID GUID_NATIVE_USB_INTERFACE = {0x5d7b9c41, 0x3a8e, 0x4f62, {0xb1, 0xd0, 0x9e, 0x27, 0xc4, 0xa6, 0xf8, 0x13}};

// Order matters only for which entry is found first, never for whether a path matches.
const char *const g_pszSupportedDevices[] = {
    // Identifiers 1 to 3, lower case, then upper case.
    "vid_0dd4&pid_015d",
    "vid_0dd4&pid_0186",
    "vid_0dd4&pid_0195",
    "VID_0DD4&PID_015D",
    "VID_0DD4&PID_0186",
    "VID_0DD4&PID_0195",
    // Identifiers 4 to 9, each upper case then lower case.
    "VID_1FC9&PID_2016",
    "vid_1fc9&pid_2016",
    "VID_1FC9&PID_2017",
    "vid_1fc9&pid_2017",
    "VID_0483&PID_5720",
    "vid_0483&pid_5720",
    "VID_0483&PID_5743",
    "vid_0483&pid_5743",
    "VID_154F&PID_154F",
    "vid_154f&pid_154f",
    "VID_1504&PID_0006",
    "vid_1504&pid_0006",
    // Identifiers 10 and 11: these devices report lower-case prefixes with upper-case hexadecimal digits.
    "vid_0fe6&pid_811e",
    "vid_0FE6&pid_811E",
    "vid_2d37&pid_def4",
    "vid_2D37&pid_DEF4",
    // Identifiers 12 and 13, each lower case then upper case.
    "vid_28e9&pid_0289",
    "VID_28E9&PID_0289",
    "vid_1a86&pid_e008",
    "VID_1A86&PID_E008",
    nullptr,
};
