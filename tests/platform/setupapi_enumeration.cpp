// Device interface enumeration: snapshots of present interfaces, record size checks, detail sizes.
#include <setupapi.h>

#include <cstddef>
#include <vector>

#include "discovery/SupportedDevices.h"
#include "kernel/faults.h"
#include "setupapi/device_info_set.h"
#include "sim_test_support.h"

namespace {

using sim_test::SimTest;

constexpr DWORD presentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

class Enumeration : public SimTest {
protected:
    void TearDown() override {
        EXPECT_EQ(0u, platform::openDeviceInfoSetCount()) << "a device information set was not destroyed";
        SimTest::TearDown();
    }

    // The paths a fresh snapshot of the class lists, in enumeration order.
    static std::vector<std::string> paths(const GUID &interfaceClass, DWORD flags = presentInterfaces) {
        std::vector<std::string> found;
        HDEVINFO set = SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, flags);
        EXPECT_NE(INVALID_HANDLE_VALUE, set);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data); ++index) {
            found.push_back(detailPath(set, data));
        }
        EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return found;
    }

    static std::string detailPath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA &data) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        if (required == 0) return "(failed)";
        std::vector<char> block(required);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) return "(failed)";
        return detail->DevicePath;
    }
};

TEST_F(Enumeration, listsThePresentInterfacesOfTheClassInAttachOrder) {
    int first = attach(sim::Transport::PrinterClass);
    int native = attach(sim::Transport::Native);
    int second = attach(sim::Transport::PrinterClass, sim::LetterCase::Upper);
    EXPECT_EQ((std::vector<std::string>{sim::interfacePath(first), sim::interfacePath(second)}),
              paths(GUID_USBPRINT_INTERFACE));
    EXPECT_EQ(std::vector<std::string>{sim::interfacePath(native)}, paths(GUID_NATIVE_USB_INTERFACE));

    sim::unplug(first);
    EXPECT_EQ(std::vector<std::string>{sim::interfacePath(second)}, paths(GUID_USBPRINT_INTERFACE));
    EXPECT_EQ(2u, paths(GUID_USBPRINT_INTERFACE, DIGCF_DEVICEINTERFACE).size())
        << "without DIGCF_PRESENT an unplugged interface is still listed";
    sim::replug(first);
    EXPECT_EQ(sim::interfacePath(first), paths(GUID_USBPRINT_INTERFACE).front()) << "back in its old place";
}

TEST_F(Enumeration, aSetIsASnapshot) {
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_USBPRINT_INTERFACE, nullptr, nullptr, presentInterfaces);
    int id = attach(sim::Transport::PrinterClass);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
    SetupDiDestroyDeviceInfoList(set);

    set = SetupDiGetClassDevsA(&GUID_USBPRINT_INTERFACE, nullptr, nullptr, presentInterfaces);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    sim::unplug(id);
    EXPECT_EQ(sim::interfacePath(id), detailPath(set, data)) << "details come from the snapshot";
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(Enumeration, checksRecordSizesAndReportsTheRequiredDetailSize) {
    int id = attach(sim::Transport::PrinterClass);
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_USBPRINT_INTERFACE, nullptr, nullptr, presentInterfaces);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
    data.cbSize = 32;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));

    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    std::string path = sim::interfacePath(id);
    EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1, required);

    std::vector<char> block(required);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
    for (DWORD wrongSize : {0u, 5u, required}) {
        detail->cbSize = wrongSize;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
        EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError()) << wrongSize;
    }
    detail->cbSize = 8;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, &required, nullptr));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(path, detail->DevicePath);

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(Enumeration, injectedFaultsFailTheEnumerationCalls) {
    attach(sim::Transport::PrinterClass);
    platform::armFault("SetupDiGetClassDevsA", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              SetupDiGetClassDevsA(&GUID_USBPRINT_INTERFACE, nullptr, nullptr, presentInterfaces));
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());

    HDEVINFO set = SetupDiGetClassDevsA(&GUID_USBPRINT_INTERFACE, nullptr, nullptr, presentInterfaces);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    platform::armFault("SetupDiEnumDeviceInterfaces", 1, ERROR_GEN_FAILURE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    EXPECT_EQ(DWORD(ERROR_GEN_FAILURE), GetLastError());
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_USBPRINT_INTERFACE, 0, &data));
    platform::armFault("SetupDiGetDeviceInterfaceDetailA", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ("(failed)", detailPath(set, data));
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
