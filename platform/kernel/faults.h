// Fault injection: a test makes the next N calls of a named operation fail with a chosen last-error code.
#pragma once

#include <windows.h>

namespace platform {

// Arms a fault: the next `times` calls of `operation` (the Win32 name, e.g. "CreateFileA") fail with `error`,
// after `skip` calls that still succeed (to reach, say, the second of three events a sequence creates).
// Returns false for a name the layer does not know.
bool armFault(const char *operation, int times, DWORD error, int skip = 0);
void clearFaults();
// The names armFault knows, in a fixed order: the index-th, or null past the last.
const char *faultName(int index);
// Called at the top of each operation that supports faults: true when this call must fail; the last error is
// then already set to the armed code.
bool injectedFault(const char *operation);

}  // namespace platform
