// What SetupAPI and detection see over the usblp backend: every usblp printer under Windows' interface path for a
// USB printer, the instance part stable for the same printer on the same port, and the supported one chosen.
#include "discovery/SupportedDevices.h"
#include "discovery/Discovery.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

std::vector<std::string> listed(const GUID &interfaceClass) {
    std::vector<std::string> paths;
    for (const auto &interface : backend().interfaces(&interfaceClass, true)) paths.push_back(interface.path);
    return paths;
}

using Enumeration = UsblpTest;

TEST_F(Enumeration, printersAreListedUnderWindowsPathsAndDetectionPicksTheSupportedOne) {
    PrinterIdentity unsupported;
    unsupported.vid = 0x04b8;
    unsupported.pid = 0x0202;
    unsupported.serial = "";
    unsupported.port = "1-2.3";
    EmulatedPrinter other(unsupported);
    other.plug();

    std::vector<std::string> paths = listed(GUID_USBPRINT_INTERFACE);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(
        (std::vector<std::string>{"\\\\?\\usb#vid_04b8&pid_0202#1-2.3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
                                  "\\\\?\\usb#vid_1fc9&pid_2016#MOCK0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"}),
        paths)
        << "the serial number when there is one, else the port path";
    EXPECT_TRUE(listed(GUID_NATIVE_USB_INTERFACE).empty()) << "usblp serves only the printer class";

    EXPECT_EQ(USB_TYPE_PRINTER_CLASS, DetectUsbType());
    char found[DEVICE_PATH_SIZE] = {};
    ASSERT_TRUE(FindDevicePath(USB_TYPE_PRINTER_CLASS, found, DEVICE_PATH_SIZE));
    EXPECT_EQ(path_, found);

    other.unplug();
    EXPECT_EQ(std::vector<std::string>{path_}, listed(GUID_USBPRINT_INTERFACE)) << "gone from the list at once";
    other.plug();
    EXPECT_EQ(2u, listed(GUID_USBPRINT_INTERFACE).size()) << "back under its old path, on a new node";
}

TEST_F(Enumeration, twoPrintersOfOneModelWithOneSerialAreEachReachableByTheirPortPath) {
    PrinterIdentity twinIdentity = identity_;
    twinIdentity.port = "1-3";
    EmulatedPrinter twin(twinIdentity);
    twin.plug();

    std::vector<std::string> paths = listed(GUID_USBPRINT_INTERFACE);
    std::sort(paths.begin(), paths.end());
    ASSERT_EQ(
        (std::vector<std::string>{"\\\\?\\usb#vid_1fc9&pid_2016#MOCK0001&1-1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
                                  "\\\\?\\usb#vid_1fc9&pid_2016#MOCK0001&1-3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"}),
        paths);
    HANDLE first = openPipe(paths[0], GENERIC_READ | GENERIC_WRITE);
    HANDLE second = openPipe(paths[1], GENERIC_READ | GENERIC_WRITE);
    EXPECT_NE(INVALID_HANDLE_VALUE, first);
    EXPECT_NE(INVALID_HANDLE_VALUE, second) << "the second twin opens too";
    EXPECT_EQ(2u, backend().openDevices());
    CloseHandle(first);
    CloseHandle(second);

    twin.unplug();
    EXPECT_EQ(std::vector<std::string>{path_}, listed(GUID_USBPRINT_INTERFACE)) << "alone, the serial alone again";
}

TEST_F(Enumeration, anOpenTakesEitherPrefixAndAnyLetterCaseAndRefusesOtherNames) {
    std::string upper = path_;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    HANDLE dotted = openPipe("\\\\.\\" + upper.substr(4) + "\\pipe00", GENERIC_READ);
    EXPECT_NE(INVALID_HANDLE_VALUE, dotted);
    CloseHandle(dotted);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(path_ + "\\PIPE02", GENERIC_READ));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(path_.substr(0, path_.size() - 1), GENERIC_READ));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

}  // namespace
}  // namespace linuxdev_test
