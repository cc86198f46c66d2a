#include "sim/device_path.h"

#include <cstdio>

#include "files/interface_path.h"

namespace sim {
namespace {

std::string hex4(int value, bool upper) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value & 0xFFFF);
    return text;
}

}  // namespace

std::string identifierText(int vid, int pid, LetterCase letterCase) {
    bool upperPrefix = letterCase == LetterCase::Upper;
    bool upperDigits = letterCase != LetterCase::Lower;
    return std::string(upperPrefix ? "VID_" : "vid_") + hex4(vid, upperDigits) + (upperPrefix ? "&PID_" : "&pid_") +
           hex4(pid, upperDigits);
}

std::string devicePath(int vid, int pid, LetterCase letterCase, const std::string &instance, const GUID &guid) {
    return platform::usbInterfacePath(identifierText(vid, pid, letterCase), instance, guid);
}

}  // namespace sim
