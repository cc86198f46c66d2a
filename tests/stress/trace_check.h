// The stress suite's look at the library's trace, when VIRIVOREZU_TRACE sent one to a file: every line the writer
// wrote under the storm must still be a whole line of the trace's format.
#pragma once

#include <string>

// The first line that does not parse, or empty when all do (or no file trace was asked for).
std::string findUnparsableTraceLine();
