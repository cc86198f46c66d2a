// viri_probe --trace FILE: a summary of a trace the library wrote (VIRIVOREZU_TRACE), for the support engineer who
// fetched it from a till.
#pragma once

#include <string>

namespace probe {

// Prints the summary; false when the file cannot be read or holds no event of the library's.
bool summariseTrace(const std::string &path);

}  // namespace probe
