#include "tools/probe/virtual_printers.h"

#include "sim/simbus.h"

namespace probe {
namespace {

// An identifier pair that the supported-device table does not hold.
const int unsupportedVid = 0x04B8;
const int unsupportedPid = 0x0E15;

}  // namespace

bool attachVirtualPrinters(int transport, std::string &reason) {
    bool attached =
        simbus_attach_receipt_printer(transport) > 0 && simbus_attach(transport, unsupportedVid, unsupportedPid) > 0;
    if (!attached) reason = "the simulated bus refused the printers";
    return attached;
}

}  // namespace probe
