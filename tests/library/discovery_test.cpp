// Finding the printer and telling its transport, against printers on the simulated bus.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "platform/kernel/faults.h"
#include "discovery/Discovery.h"
#include "port/UsbComm.h"
#include "sim/bus.h"

namespace {

const int VID = 0x0dd4;
const int PID = 0x015d;

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        sim::removeAll();
        platform::clearFaults();
        strcpy(buffer_, "untouched");
    }
    void TearDown() override {
        sim::removeAll();
        platform::clearFaults();
    }

    int attach(sim::Transport transport, int vid = VID, int pid = PID,
               sim::LetterCase letterCase = sim::LetterCase::Lower, const std::string &instance = "") {
        sim::PrinterSetup setup;
        setup.transport = transport;
        setup.vid = vid;
        setup.pid = pid;
        setup.letterCase = letterCase;
        setup.instance = instance;
        return sim::attach(setup);
    }

    int find(int usbType) { return FindDevicePath(usbType, buffer_, DEVICE_PATH_SIZE) ? 1 : 0; }
    HANDLE openReadPipe(int usbType) { return OpenPipe(usbType, "PIPE00", pipePath_, DEVICE_PATH_SIZE); }

    char buffer_[DEVICE_PATH_SIZE];
    char pipePath_[DEVICE_PATH_SIZE] = {};
};

TEST_F(Discovery, aPresentSupportedDeviceIsFoundAndNoHandleStaysOpen) {
    int printer = attach(sim::Transport::PrinterClass);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(printer), buffer_);
    EXPECT_EQ(0, sim::openFiles());
}

TEST_F(Discovery, failingEnumerationsLeaveTheBufferAsTheyFoundIt) {
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS)) << "no interface present";
    EXPECT_STREQ("untouched", buffer_);

    attach(sim::Transport::PrinterClass);
    platform::armFault("SetupDiGetClassDevsA", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS)) << "no device information set";
    EXPECT_STREQ("untouched", buffer_);
}

TEST_F(Discovery, anUnsupportedDeviceEnumeratedLastLeavesAnEmptyBuffer) {
    attach(sim::Transport::PrinterClass, 0x1234, 0x5678);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_STREQ("", buffer_);
    EXPECT_EQ(0, sim::openFiles());
}

TEST_F(Discovery, aDeviceThatCannotBeOpenedIsPassedOverButLeavesItsPath) {
    int refusing = attach(sim::Transport::PrinterClass);
    sim::refuseOpens(refusing, true);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(refusing), buffer_);

    int second = attach(sim::Transport::PrinterClass);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(second), buffer_);
}

TEST_F(Discovery, anInterfaceWithoutItsDetailRecordIsPassedOver) {
    attach(sim::Transport::PrinterClass);
    platform::armFault("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_STREQ("untouched", buffer_);

    int second = attach(sim::Transport::PrinterClass);
    platform::armFault("SetupDiGetDeviceInterfaceDetailA", 1, ERROR_INVALID_USER_BUFFER);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS)) << "the first interface's detail record was not obtained";
    EXPECT_EQ(sim::interfacePath(second), buffer_);
}

TEST_F(Discovery, detectionGoesOnPastAnInterfaceWhoseRecordsFailWithAnotherError) {
    attach(sim::Transport::PrinterClass);
    int second = attach(sim::Transport::PrinterClass);

    // The size query goes through; the detail record itself fails with something other than the end of the list.
    platform::armFault("SetupDiGetDeviceInterfaceDetailA", 1, ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(USB_TYPE_PRINTER_CLASS, DetectUsbType()) << "the failing index ended the enumeration";
    platform::armFault("SetupDiGetDeviceInterfaceDetailA", 1, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(second), buffer_);

    // The interface record of the first index is not obtained at all. Detection asks the native class first, whose
    // empty enumeration takes one call.
    platform::armFault("SetupDiEnumDeviceInterfaces", 1, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(USB_TYPE_PRINTER_CLASS, DetectUsbType());
    platform::armFault("SetupDiEnumDeviceInterfaces", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(second), buffer_);
    EXPECT_EQ(0, sim::openFiles());
}

TEST_F(Discovery, theFirstOfTwoSupportedDevicesWins) {
    int first = attach(sim::Transport::Native);
    attach(sim::Transport::Native, 0x1a86, 0xe008);
    EXPECT_EQ(1, find(USB_TYPE_NATIVE));
    EXPECT_EQ(sim::interfacePath(first), buffer_);
}

TEST_F(Discovery, identifiersMatchOnlyInTheLetterCasesTheTableLists) {
    attach(sim::Transport::PrinterClass, VID, PID, sim::LetterCase::Mixed);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS)) << "identifier 1 is listed only in lower and upper case";
    sim::removeAll();

    attach(sim::Transport::PrinterClass, VID, PID, sim::LetterCase::Upper);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    sim::removeAll();

    attach(sim::Transport::PrinterClass, 0x0fe6, 0x811e, sim::LetterCase::Mixed);
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS)) << "identifier 10 is listed with upper-case digits";
    sim::removeAll();

    attach(sim::Transport::PrinterClass, 0x0fe6, 0x811e, sim::LetterCase::Upper);
    EXPECT_EQ(0, find(USB_TYPE_PRINTER_CLASS)) << "identifier 10 has no all-upper entry";
}

TEST_F(Discovery, aPathWithNoRoomForAPipeNameIsPassedOverWithoutOverflow) {
    // A path of up to 248 characters leaves room for "\PIPE00" and the terminator in 256 bytes; one more does not.
    size_t fixedPart =
        sim::interfacePath(attach(sim::Transport::PrinterClass, VID, PID, sim::LetterCase::Lower, "i")).size() - 1;
    sim::removeAll();
    int tooLong =
        attach(sim::Transport::PrinterClass, VID, PID, sim::LetterCase::Lower, std::string(249 - fixedPart, 'x'));
    ASSERT_EQ(249u, sim::interfacePath(tooLong).size());
    char guarded[DEVICE_PATH_SIZE + 16];
    memset(guarded, 0x5A, sizeof(guarded));
    strcpy(guarded, "untouched");
    EXPECT_FALSE(FindDevicePath(USB_TYPE_PRINTER_CLASS, guarded, DEVICE_PATH_SIZE));
    EXPECT_STREQ("untouched", guarded);
    for (size_t i = DEVICE_PATH_SIZE; i < sizeof(guarded); ++i) EXPECT_EQ(0x5A, guarded[i]);

    int longest =
        attach(sim::Transport::PrinterClass, VID, PID, sim::LetterCase::Lower, std::string(248 - fixedPart, 'y'));
    EXPECT_EQ(1, find(USB_TYPE_PRINTER_CLASS));
    EXPECT_EQ(sim::interfacePath(longest), buffer_);
    HANDLE pipe = openReadPipe(USB_TYPE_PRINTER_CLASS);
    EXPECT_NE(INVALID_HANDLE_VALUE, pipe) << "the longest path still opens as a pipe";
    EXPECT_EQ(255u, strlen(pipePath_));
    CloseHandle(pipe);
}

TEST_F(Discovery, detectionPrefersTheNativeTransport) {
    EXPECT_EQ(USB_TYPE_NONE, DetectUsbType());
    attach(sim::Transport::PrinterClass);
    EXPECT_EQ(USB_TYPE_PRINTER_CLASS, DetectUsbType());
    attach(sim::Transport::Native);
    EXPECT_EQ(USB_TYPE_NATIVE, DetectUsbType());
    EXPECT_EQ(0, sim::openFiles());
}

TEST_F(Discovery, detectionNeverTouchesTheProcessPortState) {
    attach(sim::Transport::PrinterClass);
    char before[DEVICE_PATH_SIZE];
    memcpy(before, g_UsbComm.m_szDevicePath, sizeof(before));
    EXPECT_EQ(USB_TYPE_PRINTER_CLASS, DetectUsbType());
    EXPECT_EQ(0, memcmp(before, g_UsbComm.m_szDevicePath, sizeof(before)));
}

TEST_F(Discovery, openPipeOpensTheReadPipeOfTheDevice) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, openReadPipe(USB_TYPE_NATIVE));
    int printer = attach(sim::Transport::Native);
    HANDLE pipe = openReadPipe(USB_TYPE_NATIVE);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    EXPECT_EQ(sim::interfacePath(printer) + "\\PIPE00", pipePath_);
    EXPECT_EQ(1, sim::openFiles(printer));
    CloseHandle(pipe);
}

}  // namespace
