// For tests only: the library reads its trace switches once, as it loads; a test that sets VIRIVOREZU_TRACE after
// that reads them again here. Stops a running writer first, so that the trace file in use is complete.
#pragma once

#include "trace/TraceSettings.h"
#include "trace/TraceWriter.h"

// Cannot run in a deployed library: inline here, and only test sources include this header.
inline void TraceReadSettingsAgainForTests() { ReadTraceSettings(); }
