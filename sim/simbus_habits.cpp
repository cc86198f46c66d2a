// The C control API for the habits of real drivers that a simulated printer can be given.
#include <cstdint>
#include <vector>

#include "sim/bus.h"
#include "sim/simbus.h"

namespace {

int result(bool ok) { return ok ? 0 : -1; }

}  // namespace

extern "C" {

SIMBUS_API int simbus_complete_at_once(int id, int on) { return result(sim::setCompleteAtOnce(id, on != 0)); }

SIMBUS_API int simbus_stream(int id, const void *pattern, int n, long long total) {
    if (n < 0 || (pattern == nullptr && n != 0) || total < 0) return -1;
    sim::StreamSetup setup;
    const auto *bytes = static_cast<const uint8_t *>(pattern);
    setup.pattern.assign(bytes, bytes + n);
    setup.total = static_cast<uint64_t>(total);
    return result(sim::startStream(id, setup));
}

SIMBUS_API int simbus_stop_stream(int id) { return result(sim::stopStream(id)); }

SIMBUS_API long long simbus_stream_taken(int id) {
    if (sim::interfacePath(id).empty()) return -1;
    return static_cast<long long>(sim::streamTaken(id));
}

SIMBUS_API int simbus_zero_length_reads(int id, int every) {
    if (every < 0) return -1;
    return result(sim::setZeroLengthReads(id, static_cast<unsigned>(every)));
}

SIMBUS_API int simbus_cancel_delay(int id, int milliseconds) {
    if (milliseconds < 0) return -1;
    return result(sim::setCancelDelay(id, static_cast<DWORD>(milliseconds)));
}

SIMBUS_API int simbus_ignore_cancel(int id, int on) { return result(sim::ignoreCancels(id, on != 0)); }

SIMBUS_API int simbus_set_unplug_code(int id, unsigned code) {
    // A request that fails must not report success.
    if (code == ERROR_SUCCESS || sim::interfacePath(id).empty()) return -1;
    sim::ErrorCodes codes = sim::errorCodes(id);
    codes.handleAfterUnplug = code;
    return result(sim::setErrorCodes(id, codes));
}

}  // extern "C"
