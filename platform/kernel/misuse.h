// Misuse reports: calls that Windows accepts or fails without a word, but that corrupt data or name the wrong
// object on a real machine. The layer records each one; tests take them and fail on any they did not provoke.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

// Records one report: the operation, what was wrong, and the handle value it concerned.
void reportMisuse(const char *operation, const std::string &what, HANDLE handle);
// The reports recorded since the last call, oldest first; the record is then empty.
std::vector<std::string> takeMisuseReports();
// A handle value as the reports show it.
std::string handleText(HANDLE handle);

}  // namespace platform
