// Completion status as the system keeps it in OVERLAPPED::Internal: an NTSTATUS, not a Win32 error code.
#pragma once

#include <windows.h>

namespace platform {

constexpr ULONG_PTR statusSuccess = 0x00000000;
constexpr ULONG_PTR statusPending = 0x00000103;

// The status a driver reports for a Win32 error code, and back. Codes without a status of their own travel as
// Win32 codes wrapped in the FACILITY_NTWIN32 form (0xC007xxxx), which the system translates back the same way.
ULONG_PTR statusFromError(DWORD error);
DWORD errorFromStatus(ULONG_PTR status);

}  // namespace platform
