// The real build's device namespace: installed as the library is loaded, before Java can call it. No thread
// starts here; the I/O thread starts with the first open printer.
#include "files/device_namespace.h"
#include "kernel/thread_registry.h"
#include "linuxdev/usblp_backend.h"

namespace linuxdev {
namespace {

void stopAtUnload() { UsblpBackend::instance().stopIoThread(true); }

const bool installed = [] {
    platform::installDeviceNamespace(
        std::shared_ptr<platform::DeviceNamespace>(&UsblpBackend::instance(), [](platform::DeviceNamespace *) {}));
    platform::addUnloadHook(stopAtUnload);
    return true;
}();

}  // namespace
}  // namespace linuxdev
