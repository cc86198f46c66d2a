// The trace's switches, read once as the library loads (JNI_OnLoad): VIRIVOREZU_TRACE (a file path, or "stderr") and
// VIRIVOREZU_TRACE_BYTES=1 (the first bytes of every read and write in hex).
#pragma once

#include <windows.h>

// Reads the environment and switches the trace on when its destination can be written. A destination that cannot
// leaves the trace off and says so once on the standard error stream.
void ReadTraceSettings();
bool TraceShowsBytes();
// The performance counter at the load and its frequency: the lines' times are milliseconds since the load.
LONGLONG TraceLoadCounter();
double TraceCounterFrequency();
