// The real build's device namespace: installed as the library is loaded, before Java can call it. It serves both
// of Windows' transports: the USB printer class's interfaces through usblp, the native driver's through libusb. No
// thread starts here; each backend's thread starts with its first open printer.
#include <cstring>

#include "discovery/SupportedDevices.h"
#include "files/device_namespace.h"
#include "kernel/thread_registry.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/native_backend.h"
#include "linuxdev/usblp_backend.h"
#include "tools/guid_text.h"

namespace linuxdev {
namespace {

// An interface path ends with its class, so the path alone says which backend opens it.
bool namesNativeInterface(const std::string &path) {
    std::string guid = guidText(GUID_NATIVE_USB_INTERFACE);
    for (size_t at = 0; at + guid.size() <= path.size(); ++at) {
        if (platform::equalsIgnoringCase(path.substr(at, guid.size()), guid)) return true;
    }
    return false;
}

class BothTransports : public platform::DeviceNamespace {
public:
    std::shared_ptr<platform::DeviceFile> open(const std::string &path, DWORD flags, DWORD &error) override {
        if (namesNativeInterface(path)) return NativeBackend::instance().open(path, flags, error);
        return UsblpBackend::instance().open(path, flags, error);
    }

    std::vector<platform::DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) override {
        std::vector<platform::DeviceInterface> found;
        if (interfaceClass == nullptr || std::memcmp(interfaceClass, &GUID_NATIVE_USB_INTERFACE, sizeof(GUID)) != 0) {
            found = UsblpBackend::instance().interfaces(interfaceClass, presentOnly);
        }
        if (interfaceClass == nullptr || std::memcmp(interfaceClass, &GUID_NATIVE_USB_INTERFACE, sizeof(GUID)) == 0) {
            auto native = NativeBackend::instance().interfaces(interfaceClass, presentOnly);
            found.insert(found.end(), native.begin(), native.end());
        }
        return found;
    }
};

void stopAtUnload() {
    UsblpBackend::instance().stopIoThread(true);
    NativeBackend::instance().shutDownAtUnload();
}

const bool installed = [] {
    platform::installDeviceNamespace(std::make_shared<BothTransports>());
    platform::addUnloadHook(stopAtUnload);
    return true;
}();

}  // namespace
}  // namespace linuxdev
