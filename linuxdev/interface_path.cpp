#include "linuxdev/interface_path.h"

#include <cctype>
#include <cstdio>

#include "tools/guid_text.h"

namespace linuxdev {

const GUID usbPrintInterfaceClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::string usbPrintInterfacePath(int vid, int pid, const std::string &instance) {
    return usbInterfacePath(usbPrintInterfaceClass, vid, pid, instance);
}

std::string usbInterfacePath(const GUID &interfaceClass, int vid, int pid, const std::string &instance) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vid & 0xFFFF, pid & 0xFFFF);
    return std::string("\\\\?\\usb#") + ids + "#" + instance + "#" + guidText(interfaceClass);
}

std::string instanceName(const std::string &serial, const std::string &portPath) {
    std::string name = serial.empty() ? portPath : serial;
    for (char &c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#' || c == '\\' || c == '/') c = '_';
    }
    return name;
}

bool equalsIgnoringCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string canonicalName(const std::string &path) {
    if (path.compare(0, 4, "\\\\.\\") == 0) return "\\\\?\\" + path.substr(4);
    return path;
}

bool pipeOf(const std::string &name, const std::string &interfacePath, Pipe &pipe) {
    if (name.size() < interfacePath.size()) return false;
    if (!equalsIgnoringCase(name.substr(0, interfacePath.size()), interfacePath)) return false;
    std::string rest = name.substr(interfacePath.size());
    if (rest.empty()) {
        pipe = Pipe::Device;
    } else if (equalsIgnoringCase(rest, "\\PIPE00")) {
        pipe = Pipe::Read;
    } else if (equalsIgnoringCase(rest, "\\PIPE01")) {
        pipe = Pipe::Write;
    } else {
        return false;
    }
    return true;
}

}  // namespace linuxdev
