// viri_probe: what the library finds and would open on this machine, and a summary of the library's trace. In the
// field this shows the device interfaces of both driver classes, which of them the supported-device table matches,
// the transport that detection picks and the pipe paths that would be opened, and on request exchanges a status
// request with the printer.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/Discovery.h"
#include "discovery/SupportedDevices.h"
#include "tools/guid_text.h"
#include "tools/probe/device_interfaces.h"
#include "tools/probe/devices_on_this_machine.h"
#include "tools/probe/power_events.h"
#include "tools/probe/status_exchange.h"
#include "tools/probe/trace_summary.h"
#include "tools/probe/virtual_printers.h"

namespace {

const DWORD answerWaitMs = 2000;

struct Options {
    bool exchange = false;
    bool attach = false;
    int attachTransport = USB_TYPE_PRINTER_CLASS;
    bool help = false;
    std::string traceFile;
    std::string error;
};

Options parseOptions(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--exchange") {
            options.exchange = true;
        } else if (arg == "--attach-virtual" || arg == "--attach-virtual=class") {
            options.attach = true;
        } else if (arg == "--attach-virtual=native") {
            options.attach = true;
            options.attachTransport = USB_TYPE_NATIVE;
        } else if (arg == "--trace" && i + 1 < argc) {
            options.traceFile = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else {
            options.error = "unknown option " + arg;
        }
    }
    return options;
}

void printUsage() {
    std::printf(
        "usage: viri_probe [--exchange] [--attach-virtual[=class|native]]\n"
        "       viri_probe --trace FILE\n"
        "  Lists the USB printer interfaces of both driver classes, marks those the library supports, and shows\n"
        "  the transport detection's choice and the pipe paths the library would open.\n"
        "  --exchange        also opens both pipes and asks the printer's status (DLE EOT 1)\n"
        "  --attach-virtual  first attaches a virtual receipt printer and an unsupported printer, behind the USB\n"
        "                    printer class driver (=class, the default) or the native USB driver (=native);\n"
        "                    only in viri_probe_sim, the Linux build over the simulated USB bus\n"
        "  --trace FILE      summarises a trace the library wrote (VIRIVOREZU_TRACE): opens and closes,\n"
        "                    reconnect storms, suspends and resumes with their durations, errors by code\n");
}

std::string errorText(DWORD code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    std::string described = std::to_string(code);
    return length > 0 ? described + " (" + text + ")" : described;
}

// Lists one class; returns the number of supported interfaces.
int listClass(const char *title, const GUID &interfaceClass) {
    std::printf("%s %s:\n", title, guidText(interfaceClass).c_str());
    probe::InterfaceList list = probe::listInterfaces(interfaceClass);
    int supported = 0;
    for (const std::string &path : list.paths) {
        const char *entry = probe::supportedEntry(path);
        if (entry != nullptr) ++supported;
        std::printf("  %s %s\n", entry != nullptr ? "[supported]  " : "[unsupported]", path.c_str());
        if (entry != nullptr) std::printf("                matches %s\n", entry);
        if (entry != nullptr && !InterfacePathFits(path.c_str(), DEVICE_PATH_SIZE)) {
            std::printf("                too long for the library's %d-byte path buffer: passed over\n",
                        DEVICE_PATH_SIZE);
        }
    }
    if (list.paths.empty()) std::printf("  (none)\n");
    if (list.error != 0) std::printf("  listing failed: error %s\n", errorText(list.error).c_str());
    return supported;
}

// Said when nothing listed is supported: a printer whose identifiers are missing needs a rebuilt library.
void listSupportedPairs() {
    std::printf("  The library drives printers with these USB identifiers (vendor&product) only:\n");
    for (const std::string &pair : probe::supportedPairs()) std::printf("    %s\n", pair.c_str());
    std::printf(
        "  A printer not listed is passed over. docs/troubleshooting.md, \"Adding a printer\", tells how a\n"
        "  pair is added to the library's table (the library and the probe must then be rebuilt).\n");
}

const char *transportName(int type) {
    if (type == USB_TYPE_NATIVE) return "the native USB transport (vendor's driver)";
    if (type == USB_TYPE_PRINTER_CLASS) return "the printer-class transport (USB printer class driver)";
    return "none: no supported device's read pipe opens";
}

std::string pipePath(const char *interfacePath, const char *pipeName) {
    char path[DEVICE_PATH_SIZE] = {};
    std::strcpy(path, interfacePath);
    return AppendPipeName(path, DEVICE_PATH_SIZE, pipeName) ? path : "(does not fit the path buffer)";
}

// Runs the library's own detection and lookup; returns the interface path that would be opened, or empty.
std::string detect(int supported) {
    std::printf("\nTransport detection\n");
    int type = DetectUsbType();
    std::printf("  picks:       %d, %s\n", type, transportName(type));
    if (type < 0) {
        if (supported > 0) {
            std::printf(
                "  a supported printer is present but its read pipe did not open: another program may hold\n"
                "  it open, or it is being unplugged\n");
        }
        return std::string();
    }
    char interfacePath[DEVICE_PATH_SIZE] = {};
    if (!FindDevicePath(type, interfacePath, DEVICE_PATH_SIZE)) {
        std::printf("  lookup:      no supported device found on the second look (unplugged meanwhile?)\n");
        return std::string();
    }
    std::printf("  device:      %s\n", interfacePath);
    std::printf("  read pipe:   %s\n", pipePath(interfacePath, PIPE_NAME_READ).c_str());
    std::printf("  write pipe:  %s\n", pipePath(interfacePath, PIPE_NAME_WRITE).c_str());
    return interfacePath;
}

bool exchange(const std::string &interfacePath) {
    std::printf("\nStatus request DLE EOT 1 (10 04 01)\n");
    probe::StatusAnswer answer = probe::exchangeStatus(interfacePath, answerWaitMs);
    if (!answer.failedStep.empty()) {
        std::printf("  failed at:   %s", answer.failedStep.c_str());
        if (answer.error != 0) std::printf(", error %s", errorText(answer.error).c_str());
        std::printf("\n");
        return false;
    }
    bool statusByte = (answer.status & 0x93) == 0x12;
    std::printf("  answer:      %02X, %s\n", answer.status,
                !statusByte                   ? "not a status byte"
                : (answer.status & 0x08) != 0 ? "printer offline"
                                              : "printer online");
    return statusByte;
}

}  // namespace

int main(int argc, char **argv) {
    Options options = parseOptions(argc, argv);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty()) std::fprintf(stderr, "viri_probe: %s\n", options.error.c_str());
        printUsage();
        return options.help ? 0 : 2;
    }
    if (!options.traceFile.empty()) return probe::summariseTrace(options.traceFile) ? 0 : 1;
    if (options.attach) {
        std::string reason;
        if (!probe::attachVirtualPrinters(options.attachTransport, reason)) {
            std::fprintf(stderr, "viri_probe: %s\n", reason.c_str());
            return 2;
        }
        std::printf("Attached virtual printers behind the %s driver (a dry run on the simulated USB bus)\n\n",
                    options.attachTransport == USB_TYPE_NATIVE ? "native USB" : "USB printer class");
    }

    int supported = listClass("Native USB driver interfaces", GUID_NATIVE_USB_INTERFACE);
    supported += listClass("USB printer class interfaces", GUID_USBPRINT_INTERFACE);
    std::printf("  %d supported interface(s) in all\n", supported);
    if (supported == 0) listSupportedPairs();
    probe::printDeviceNodes();
    std::printf("\nSuspend and resume\n  %s\n", probe::describePowerEvents().c_str());

    std::string interfacePath = detect(supported);
    if (interfacePath.empty()) return 1;
    if (options.exchange && !exchange(interfacePath)) return 1;
    return 0;
}
