#include "linuxdev/interface_path.h"

#include <map>

namespace linuxdev {

const GUID usbPrintInterfaceClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::string usbPrintInterfacePath(int vid, int pid, const std::string &instance) {
    return usbInterfacePath(usbPrintInterfaceClass, vid, pid, instance);
}

std::string usbInterfacePath(const GUID &interfaceClass, int vid, int pid, const std::string &instance) {
    return platform::usbInterfacePath(platform::usbIdentifiers(vid, pid), instance, interfaceClass);
}

std::vector<std::string> instanceNames(const std::vector<PrinterInstance> &printers) {
    std::map<std::string, int> uses;
    std::vector<std::string> keys;
    for (const PrinterInstance &printer : printers) {
        keys.push_back(usbPrintInterfacePath(printer.vid, printer.pid, instanceName(printer.serial, printer.portPath)));
        ++uses[keys.back()];
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < printers.size(); ++i) {
        const PrinterInstance &printer = printers[i];
        bool shared = uses[keys[i]] > 1 && !printer.serial.empty();
        names.push_back(shared ? instanceName(printer.serial + "&" + printer.portPath, printer.portPath)
                               : instanceName(printer.serial, printer.portPath));
    }
    return names;
}

std::string instanceName(const std::string &serial, const std::string &portPath) {
    std::string name = serial.empty() ? portPath : serial;
    for (char &c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '\\' || c == '/') c = '_';
    }
    return name;
}

}  // namespace linuxdev
