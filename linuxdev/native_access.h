// What the probe tells a person about a printer of the native transport: its USB device node and whether this
// process could open it and claim its interface now, telling apart the causes that ERROR_ACCESS_DENIED merges.
#pragma once

#include <string>

#include "linuxdev/native_candidate.h"

namespace linuxdev {

// /dev/bus/usb/BBB/DDD.
std::string usbNodeOf(const NativeCandidate &candidate);
std::string nativeAvailability(const NativeCandidate &candidate);

}  // namespace linuxdev
