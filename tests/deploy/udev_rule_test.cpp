// The udev rule and the CUPS USB quirks file shipped for real printers. The rule must give the library's own group
// every printer the library supports, and only those, on both kinds of node, the USB device node only when the
// device has a vendor-specific interface, and its rules must match rather than assign. The quirks file must keep
// CUPS's USB backend away from every supported printer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "discovery/SupportedDevices.h"

namespace {

using Pair = std::pair<std::string, std::string>;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The table's pairs, as sysfs writes them: four lower-case hexadecimal digits each.
std::set<Pair> supportedPairs() {
    std::set<Pair> pairs;
    for (const char *const *entry = g_pszSupportedDevices; *entry != nullptr; ++entry) {
        std::string text = lowerCase(*entry);  // vid_xxxx&pid_xxxx
        pairs.emplace(text.substr(4, 4), text.substr(13, 4));
    }
    return pairs;
}

struct Rules {
    std::set<Pair> usblpNodes;
    std::set<Pair> usbDeviceNodes;
    std::vector<std::string> faults;
};

// The value a rule compares `key` with ("" when it does not).
std::string value(const std::string &line, const std::string &key) {
    std::string start = key + "==\"";
    size_t at = line.find(start);
    if (at == std::string::npos) return std::string();
    at += start.size();
    size_t end = line.find('"', at);
    return end == std::string::npos ? std::string() : line.substr(at, end - at);
}

// A key meant to match but written with one '=' assigns instead, and the rule then matches every device.
bool assignsAMatchKey(const std::string &line) {
    static const char *const matchKeys[] = {"SUBSYSTEM",       "KERNEL",
                                            "ATTRS{idVendor}", "ATTRS{idProduct}",
                                            "ATTR{idVendor}",  "ATTR{idProduct}",
                                            "ENV{DEVTYPE}",    "ENV{ID_USB_INTERFACES}"};
    for (const char *key : matchKeys) {
        size_t at = line.find(std::string(key) + "=");
        if (at == std::string::npos) continue;
        size_t next = at + std::string(key).size() + 1;
        if (next < line.size() && line[next] != '=') return true;
    }
    return false;
}

void readRule(const std::string &line, Rules &rules) {
    if (assignsAMatchKey(line)) rules.faults.push_back("assigns a match key: " + line);
    if (line.find("GROUP=\"virivorezu\"") == std::string::npos) {
        rules.faults.push_back("not for the library's group: " + line);
    }
    if (line.find("MODE=\"0660\"") == std::string::npos) rules.faults.push_back("not mode 0660: " + line);
    std::string subsystem = value(line, "SUBSYSTEM");
    if (subsystem == "usbmisc") {
        if (value(line, "KERNEL") != "lp[0-9]*") rules.faults.push_back("not for lp nodes: " + line);
        rules.usblpNodes.emplace(value(line, "ATTRS{idVendor}"), value(line, "ATTRS{idProduct}"));
    } else if (subsystem == "usb") {
        if (value(line, "ENV{DEVTYPE}") != "usb_device") rules.faults.push_back("not for devices: " + line);
        // usbfs lets its opener detach drivers and reset the device: only for a vendor-specific interface.
        if (value(line, "ENV{ID_USB_INTERFACES}") != "*:ff????:*") {
            rules.faults.push_back("usbfs for any interface: " + line);
        }
        rules.usbDeviceNodes.emplace(value(line, "ATTR{idVendor}"), value(line, "ATTR{idProduct}"));
    } else {
        rules.faults.push_back("for neither kind of node: " + line);
    }
}

Rules readRules(const char *path) {
    Rules rules;
    std::ifstream file(path);
    if (!file) rules.faults.push_back(std::string("cannot read ") + path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        readRule(line, rules);
    }
    return rules;
}

}  // namespace

TEST(UdevRule, givesTheGroupEverySupportedPrinterOnBothKindsOfNode) {
    Rules rules = readRules(VIRI_UDEV_RULE);
    for (const std::string &fault : rules.faults) ADD_FAILURE() << fault;
    std::set<Pair> supported = supportedPairs();
    EXPECT_EQ(static_cast<size_t>(SUPPORTED_DEVICE_PAIRS), supported.size());
    EXPECT_EQ(supported, rules.usblpNodes);
    EXPECT_EQ(supported, rules.usbDeviceNodes);
}

TEST(CupsQuirks, keepsCupsUsbBackendAwayFromEverySupportedPrinter) {
    std::ifstream file(VIRI_CUPS_QUIRKS);
    ASSERT_TRUE(file) << VIRI_CUPS_QUIRKS;
    std::set<Pair> blacklisted;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        // "0xVVVV 0xPPPP blacklist", as CUPS's usb backend reads it.
        ASSERT_EQ(23u, line.size()) << line;
        EXPECT_EQ("0x", line.substr(0, 2)) << line;
        EXPECT_EQ(" 0x", line.substr(6, 3)) << line;
        EXPECT_EQ(" blacklist", line.substr(13)) << line;
        blacklisted.emplace(lowerCase(line.substr(2, 4)), lowerCase(line.substr(9, 4)));
    }
    EXPECT_EQ(supportedPairs(), blacklisted);
}
