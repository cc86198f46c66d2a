#include "tools/probe/power_events.h"

namespace probe {

std::string describePowerEvents() { return "on: Windows sends WM_POWERBROADCAST to the library's power window"; }

}  // namespace probe
