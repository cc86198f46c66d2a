// The real-device library listens to logind from its load on; linked whole into it, never into the simulator's.
#include "linuxdev/power/logind_power_source.h"

namespace {

const bool installed = [] {
    linuxdev::installLogindPowerEvents();
    return true;
}();

}  // namespace
