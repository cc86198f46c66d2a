#include "tools/probe/virtual_printers.h"

namespace probe {

bool attachVirtualPrinters(int, std::string &reason) {
    reason = "virtual printers exist only in the Linux build, which carries the simulated USB bus";
    return false;
}

}  // namespace probe
