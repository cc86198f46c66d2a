// Whether the system's suspend and resume reach the library on this machine, in one line.
#pragma once

#include <string>

namespace probe {

std::string describePowerEvents();

}  // namespace probe
