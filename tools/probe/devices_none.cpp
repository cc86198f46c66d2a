#include "tools/probe/devices_on_this_machine.h"

namespace probe {

// The simulated bus and Windows have no device nodes to show.
void printDeviceNodes() {}

}  // namespace probe
