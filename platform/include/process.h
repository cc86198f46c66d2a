// The C run-time's thread creation, for builds on Linux; see windows.h.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns the new thread's handle as an integer, 0 on failure (with errno set on Windows; the last error here).
PLATFORM_API uintptr_t _beginthreadex(void *security, unsigned stack_size, unsigned (*start_address)(void *),
                                      void *arglist, unsigned initflag, unsigned *thrdaddr);

#ifdef __cplusplus
}
#endif
