#include "stress/device_habits.h"

#include "sim/bus.h"
#include "stress/text_format.h"

DeviceHabits drawDeviceHabits(RandomSource &random) {
    DeviceHabits habits;
    habits.completeAtOnce = random.percent(50);
    habits.zeroLengthEvery = random.percent(30) ? static_cast<unsigned>(random.between(2, 9)) : 0;
    // On either side of the 250 ms that the reader waits for its cancelled read.
    habits.cancelDelay = random.percent(30) ? static_cast<DWORD>(random.between(1, 600)) : 0;
    habits.ignoresCancels = random.percent(20);
    const DWORD unplugCodes[] = {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_DEVICE_NOT_CONNECTED};
    habits.unplugCode = unplugCodes[random.below(3)];
    return habits;
}

bool applyDeviceHabits(int printer, const DeviceHabits &habits) {
    sim::ErrorCodes codes = sim::errorCodes(printer);
    codes.handleAfterUnplug = habits.unplugCode;
    return sim::setCompleteAtOnce(printer, habits.completeAtOnce) &&
           sim::setZeroLengthReads(printer, habits.zeroLengthEvery) &&
           sim::setCancelDelay(printer, habits.cancelDelay) && sim::ignoreCancels(printer, habits.ignoresCancels) &&
           sim::setErrorCodes(printer, codes);
}

std::string describeDeviceHabits(const DeviceHabits &habits) {
    return formatText(
        "reads complete at once %d, zero-length read every %u, cancel delay %lu ms, cancels ignored "
        "%d, unplug code %lu",
        habits.completeAtOnce ? 1 : 0, habits.zeroLengthEvery, static_cast<unsigned long>(habits.cancelDelay),
        habits.ignoresCancels ? 1 : 0, static_cast<unsigned long>(habits.unplugCode));
}
