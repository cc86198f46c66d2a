// Looks at the process from outside the library: the system's own error texts, the power window, the threads.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace winetest {

// Polls `condition` until it holds or `timeoutMs` has passed; the outcome of the last poll.
bool waitUntil(const std::function<bool()> &condition, DWORD timeoutMs);

// FormatMessageA's text for `code`, as the library asks for it; empty when the system has none.
std::string systemErrorText(DWORD code);

// The library's hidden power window, found by its class name; null if none.
HWND findPowerWindow();

// The DevicePath of every present interface of the class, as SetupAPI lists them.
std::vector<std::string> listInterfacePaths(const GUID &interfaceClass);

// Ids of the threads of this process, as the system lists them.
std::set<DWORD> threadIds();
// The threads of `ids` that still exist.
int threadsAlive(const std::set<DWORD> &ids);
// Threads in `now` that were not in `before`.
std::set<DWORD> threadsAdded(const std::set<DWORD> &before, const std::set<DWORD> &now);

}  // namespace winetest
