#include "simulated_printer.h"

#include "discovery/SupportedDevices.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace winetest {

namespace {

std::atomic<int> printersMade{0};

}  // namespace

std::string supportedLowerCaseId(int index) {
    for (int entry = 0; g_pszSupportedDevices[entry] != nullptr; ++entry) {
        const std::string id = g_pszSupportedDevices[entry];
        const bool lowerCase = std::none_of(id.begin(), id.end(), [](unsigned char c) { return std::isupper(c); });
        if (lowerCase && index-- == 0) {
            return id;
        }
    }
    return std::string();
}

SimulatedPrinter::SimulatedPrinter(Transport transport, const std::string &vidPid) {
    const std::string unique = std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++printersMade);
    const std::string reference = "viriref" + unique;
    identity_.vidPid = vidPid;
    identity_.instance = "VIRI" + unique;
    identity_.interfaceClass =
        transport == Transport::PrinterClass ? GUID_USBPRINT_INTERFACE : GUID_NATIVE_USB_INTERFACE;
    identity_.reference = reference;
    interfacePipe_ = std::make_unique<PipeServer>(reference);
    readPipe_ = std::make_unique<PipeServer>(reference + "\\PIPE00");
    // No inbound buffer: a write of the host's ends only once the printer has taken it, so that a printer that
    // stops reading holds the host's write as a real one does.
    writePipe_ = std::make_unique<PipeServer>(reference + "\\PIPE01", 0);
    registration_ = std::make_unique<DeviceRegistration>(identity_);
}

bool SimulatedPrinter::plug(std::string &error) {
    // The pipes and the link come first, so that the device opens from the moment SetupAPI lists it.
    return interfacePipe_->start(error) && readPipe_->start(error) && writePipe_->start(error) &&
           link_.create(identity_.objectName(), error) && registration_->add(error);
}

void SimulatedPrinter::unplug() {
    registration_->remove();
    link_.remove();
    interfacePipe_->stop();
    readPipe_->stop();
    writePipe_->stop();
}

}  // namespace winetest
