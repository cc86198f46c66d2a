// The habits of real drivers that a round gives its printer, drawn from the round's seed: they hold for the whole
// round, across unplugs and replugs, on both transports.
#pragma once

#include <windows.h>

#include <string>

#include "stress/random_source.h"

struct DeviceHabits {
    // Off: every overlapped read pends first, as on the slowest drivers.
    bool completeAtOnce = true;
    // Every n-th read ends at once with 0 bytes; 0 for none.
    unsigned zeroLengthEvery = 0;
    // A cancelled request ends this many (scaled) milliseconds after the cancel.
    DWORD cancelDelay = 0;
    // The driver ends nothing on a cancel; requests end at their file's cleanup or at unplug.
    bool ignoresCancels = false;
    // What every request on a handle from before an unplug fails with.
    DWORD unplugCode = ERROR_ACCESS_DENIED;
};

DeviceHabits drawDeviceHabits(RandomSource &random);
// False when the simulated bus refused one of them.
bool applyDeviceHabits(int printer, const DeviceHabits &habits);
std::string describeDeviceHabits(const DeviceHabits &habits);
