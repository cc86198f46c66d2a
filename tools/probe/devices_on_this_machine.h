// What the probe can tell about the device nodes behind the interfaces it lists: on the real Linux build, each usblp
// printer's /dev node and each native printer's USB node, their permissions and whether another process holds the
// node or the interface; nothing elsewhere.
#pragma once

namespace probe {

void printDeviceNodes();

}  // namespace probe
