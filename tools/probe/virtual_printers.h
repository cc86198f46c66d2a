// Virtual printers for a dry run of the probe. They exist only where the library carries the simulated USB bus
// (viri_probe_sim, the Linux build over the simulated bus); elsewhere attaching them fails with the reason.
#pragma once

#include <string>

namespace probe {

// Attaches a virtual receipt printer (transport 0: the vendor's native USB driver, 1: the USB printer class driver)
// and an unsupported printer beside it.
bool attachVirtualPrinters(int transport, std::string &reason);

}  // namespace probe
