#include "linuxdev/power/logind_bus.h"

#include <cstdlib>
#include <cstring>

namespace linuxdev {

const char logindService[] = "org.freedesktop.login1";
const char logindPath[] = "/org/freedesktop/login1";
const char logindManager[] = "org.freedesktop.login1.Manager";

namespace {

// A probe's question should not hang on a bus that does not answer.
constexpr uint64_t checkTimeoutMicroseconds = 2'000'000;

std::string systemBusAddress() {
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address != nullptr ? address : "the default system bus socket";
}

}  // namespace

sd_bus *openSystemBus(std::string &reason) {
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result >= 0) return bus;
    reason = "no system bus at " + systemBusAddress() + " (" + std::strerror(-result) + ")";
    return nullptr;
}

std::string checkLogind() {
    std::string reason;
    sd_bus *bus = openSystemBus(reason);
    if (bus == nullptr) return "off: " + reason;
    sd_bus_set_method_call_timeout(bus, checkTimeoutMicroseconds);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    int owned = 0;
    int result = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "NameHasOwner", &error, &reply, "s", logindService);
    if (result >= 0) result = sd_bus_message_read(reply, "b", &owned);
    std::string answer;
    if (result < 0) {
        answer = std::string("off: the system bus did not answer (") +
                 (error.message != nullptr ? error.message : std::strerror(-result)) + ")";
    } else if (!owned) {
        answer = "off: no logind on the system bus, so the library is not told of suspend and resume";
    } else {
        answer = "on: logind is on the system bus; suspend and resume reach the library while a link is open";
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return answer;
}

}  // namespace linuxdev
