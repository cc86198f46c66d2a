// logind's names on the system bus, and the connection to that bus.
#pragma once

#include <systemd/sd-bus.h>

#include <string>

namespace linuxdev {

extern const char logindService[];
extern const char logindPath[];
extern const char logindManager[];

// Opens a connection of its own to the system bus ($DBUS_SYSTEM_BUS_ADDRESS when set); null, with the reason,
// when there is no bus to connect to (a container, a minimal system).
sd_bus *openSystemBus(std::string &reason);

// Whether logind owns its name on the system bus, asked over a connection of its own; the answer in words for the
// probe ("off: ..." when suspend and resume cannot reach the library).
std::string checkLogind();

}  // namespace linuxdev
