// The supported-device table against printers that carry each of its identifier pairs in the letter case the
// devices use: a mistyped, reordered or missing entry leaves some real printer unfound.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "discovery/Discovery.h"
#include "discovery/SupportedDevices.h"
#include "kernel/faults.h"
#include "sim/bus.h"

namespace {

struct KnownPrinter {
    int vid;
    int pid;
    sim::LetterCase letterCase;
};

using sim::LetterCase;

// Written out here rather than derived from the table, so that the table cannot agree with itself on a typo.
const KnownPrinter KNOWN_PRINTERS[] = {
    {0x0dd4, 0x015d, LetterCase::Lower}, {0x0dd4, 0x0186, LetterCase::Lower}, {0x0dd4, 0x0195, LetterCase::Lower},
    {0x0dd4, 0x015d, LetterCase::Upper}, {0x0dd4, 0x0186, LetterCase::Upper}, {0x0dd4, 0x0195, LetterCase::Upper},
    {0x1fc9, 0x2016, LetterCase::Upper}, {0x1fc9, 0x2016, LetterCase::Lower}, {0x1fc9, 0x2017, LetterCase::Upper},
    {0x1fc9, 0x2017, LetterCase::Lower}, {0x0483, 0x5720, LetterCase::Upper}, {0x0483, 0x5720, LetterCase::Lower},
    {0x0483, 0x5743, LetterCase::Upper}, {0x0483, 0x5743, LetterCase::Lower}, {0x154f, 0x154f, LetterCase::Upper},
    {0x154f, 0x154f, LetterCase::Lower}, {0x1504, 0x0006, LetterCase::Upper}, {0x1504, 0x0006, LetterCase::Lower},
    {0x0fe6, 0x811e, LetterCase::Lower}, {0x0fe6, 0x811e, LetterCase::Mixed}, {0x2d37, 0xdef4, LetterCase::Lower},
    {0x2d37, 0xdef4, LetterCase::Mixed}, {0x28e9, 0x0289, LetterCase::Lower}, {0x28e9, 0x0289, LetterCase::Upper},
    {0x1a86, 0xe008, LetterCase::Lower}, {0x1a86, 0xe008, LetterCase::Upper},
};
const int KNOWN_PRINTER_COUNT = sizeof(KNOWN_PRINTERS) / sizeof(KNOWN_PRINTERS[0]);

// The identifier part of an interface path "\\?\usb#<identifiers>#<instance>#<class>".
std::string identifiersOf(const std::string &path) {
    size_t start = path.find('#');
    if (start == std::string::npos) return {};
    size_t end = path.find('#', start + 1);
    if (end == std::string::npos) return {};
    return path.substr(start + 1, end - start - 1);
}

class SupportedDevices : public ::testing::Test {
protected:
    void SetUp() override {
        sim::removeAll();
        platform::clearFaults();
    }
    void TearDown() override { sim::removeAll(); }
};

TEST_F(SupportedDevices, everyEntryInItsOrderFindsAPrinterWithThoseIdentifiersOnEitherTransport) {
    for (int i = 0; i < KNOWN_PRINTER_COUNT; ++i) {
        const KnownPrinter &known = KNOWN_PRINTERS[i];
        // Both interface classes are searched with the same table; alternating covers each with every case.
        sim::Transport transport = i % 2 == 0 ? sim::Transport::Native : sim::Transport::PrinterClass;
        int usbType = transport == sim::Transport::Native ? USB_TYPE_NATIVE : USB_TYPE_PRINTER_CLASS;
        SCOPED_TRACE("entry " + std::to_string(i));
        ASSERT_NE(nullptr, g_pszSupportedDevices[i]) << "the table ends early";

        sim::PrinterSetup setup;
        setup.transport = transport;
        setup.vid = known.vid;
        setup.pid = known.pid;
        setup.letterCase = known.letterCase;
        int printer = sim::attach(setup);
        ASSERT_GT(printer, 0);
        std::string path = sim::interfacePath(printer);
        EXPECT_STREQ(identifiersOf(path).c_str(), g_pszSupportedDevices[i]);

        EXPECT_EQ(usbType, DetectUsbType());
        char found[DEVICE_PATH_SIZE] = {};
        EXPECT_TRUE(FindDevicePath(usbType, found, DEVICE_PATH_SIZE));
        EXPECT_EQ(path, found);
        sim::removeAll();
    }
    EXPECT_EQ(nullptr, g_pszSupportedDevices[KNOWN_PRINTER_COUNT]) << "the table has entries no printer uses";
}

}  // namespace
