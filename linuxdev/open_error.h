// What an open of a usblp node that failed means to a Win32 caller, and what the probe tells a person about it.
#pragma once

#include <windows.h>

#include <string>

namespace linuxdev {

// EBUSY (another process holds the printer: usblp allows one open) and EACCES (no permission on the node) are both
// ERROR_ACCESS_DENIED, as Windows reports a printer in use; a node gone meanwhile is ERROR_FILE_NOT_FOUND.
DWORD errorForOpen(int error);

// The node's mode and owner, e.g. "crw-rw---- root:lp"; empty when it cannot be read.
std::string nodePermissions(const std::string &devnode);
// Whether this process could open the node now, in words, telling apart the causes that errorForOpen merges.
std::string nodeAvailability(const std::string &devnode);

}  // namespace linuxdev
