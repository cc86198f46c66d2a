// What the probe can tell about the device nodes behind the interfaces it lists: on the real Linux build, each usblp
// printer's /dev node, its permissions and whether another process holds it; nothing elsewhere.
#pragma once

namespace probe {

void printDeviceNodes();

}  // namespace probe
