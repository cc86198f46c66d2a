// Device interface paths in Windows' own form: \\?\usb#vid_0dd4&pid_015d#<instance>#{<interface class GUID>}.
#pragma once

#include <windows.h>

#include <string>

#include "sim/bus.h"

namespace sim {

// "vid_0dd4&pid_015d" in the given letter case.
std::string identifierText(int vid, int pid, LetterCase letterCase);
// "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", lower case as Windows writes it into interface paths.
std::string guidText(const GUID &guid);
std::string devicePath(int vid, int pid, LetterCase letterCase, const std::string &instance, const GUID &guid);
// Windows compares device names without regard to case.
bool equalsIgnoringCase(const std::string &a, const std::string &b);

}  // namespace sim
