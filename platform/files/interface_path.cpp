#include "files/interface_path.h"

#include <cctype>
#include <cstdio>

#include "tools/guid_text.h"

namespace platform {

std::string usbIdentifiers(int vid, int pid) {
    char text[32];
    std::snprintf(text, sizeof text, "vid_%04x&pid_%04x", vid & 0xFFFF, pid & 0xFFFF);
    return text;
}

std::string usbInterfacePath(const std::string &identifiers, const std::string &instance, const GUID &interfaceClass) {
    return "\\\\?\\usb#" + identifiers + "#" + instance + "#" + guidText(interfaceClass);
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

DWORD pipeRefusal(Pipe pipe, IoKind kind) {
    if (kind == IoKind::Read && pipe == Pipe::Write) return ERROR_INVALID_FUNCTION;
    if (kind == IoKind::Write && pipe == Pipe::Read) return ERROR_INVALID_FUNCTION;
    return ERROR_SUCCESS;
}

}  // namespace platform
