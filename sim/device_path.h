// Device interface paths in Windows' own form: \\?\usb#vid_0dd4&pid_015d#<instance>#{<interface class GUID>}.
#pragma once

#include <windows.h>

#include <string>

#include "sim/bus.h"
#include "tools/guid_text.h"

namespace sim {

// "vid_0dd4&pid_015d" in the given letter case.
std::string identifierText(int vid, int pid, LetterCase letterCase);
std::string devicePath(int vid, int pid, LetterCase letterCase, const std::string &instance, const GUID &guid);
// Windows compares device names without regard to case.
bool equalsIgnoringCase(const std::string &a, const std::string &b);

}  // namespace sim
