#include "tools/probe/power_events.h"

#include "user32/power_events.h"

namespace probe {

// The platform layer's source (logind in the real-device build; none beside the simulated bus) says for itself.
std::string describePowerEvents() { return platform::describePowerEvents(); }

}  // namespace probe
