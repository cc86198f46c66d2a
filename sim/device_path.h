// Device interface paths in Windows' own form: \\?\usb#vid_0dd4&pid_015d#<instance>#{<interface class GUID>}.
#pragma once

#include <windows.h>

#include <string>

#include "sim/bus.h"

namespace sim {

// "vid_0dd4&pid_015d" in the given letter case.
std::string identifierText(int vid, int pid, LetterCase letterCase);
std::string devicePath(int vid, int pid, LetterCase letterCase, const std::string &instance, const GUID &guid);

}  // namespace sim
