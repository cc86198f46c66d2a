#include "tools/probe/virtual_printers.h"

namespace probe {

bool attachVirtualPrinters(int, std::string &reason) {
    reason = "virtual printers exist only in viri_probe_sim, the Linux build over the simulated USB bus";
    return false;
}

}  // namespace probe
