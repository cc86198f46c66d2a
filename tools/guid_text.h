// A GUID as Windows writes it into device interface paths and registry keys: "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
// lower case. Shared by the platform layer's interface paths, the probe and the Wine test harness.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::string guidText(const GUID &guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}
