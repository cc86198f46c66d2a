// The system's English message texts for Win32 error codes.
#pragma once

#include <windows.h>

namespace platform {

// The text as the message table holds it, without the line end; null for a code without text.
const char *systemErrorText(DWORD code);

}  // namespace platform
