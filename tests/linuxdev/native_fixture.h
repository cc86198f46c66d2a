// The native backend's tests: one emulated vendor-class printer per test, libusb started after the testbed (its
// hot-plug monitor must live in umockdev's world), and the checks every test ends with.
#pragma once

#include <windows.h>

#include <string>

#include "discovery/SupportedDevices.h"
#include "emulated_native_printer.h"
#include "emulated_printer.h"
#include "kernel/kernel_object.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/native_backend.h"
#include "usblp_fixture.h"

namespace linuxdev_test {

inline linuxdev::NativeBackend &nativeBackend() { return linuxdev::NativeBackend::instance(); }

inline std::string nativePathOf(const NativeIdentity &identity) {
    return linuxdev::usbInterfacePath(GUID_NATIVE_USB_INTERFACE, identity.vid, identity.pid, identity.serial);
}

inline bool nativeListed(const std::string &path) {
    for (const auto &interface : nativeBackend().interfaces(&GUID_NATIVE_USB_INTERFACE, true)) {
        if (interface.path == path) return true;
    }
    return false;
}

// A synchronous handle, as the library opens the native pipes.
inline HANDLE openNative(const std::string &path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return openPipe(path, access, 0);
}

class NativeTest : public ::testing::Test {
protected:
    void SetUp() override {
        testbed();
        ASSERT_NE(nullptr, nativeBackend().context());
        handlesBefore_ = platform::openHandleCount();
        printer_.plug();
        ASSERT_TRUE(waitUntil([this] { return nativeListed(path_); })) << "libusb never saw the printer";
    }

    void TearDown() override {
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; })) << "a printer was left open";
        EXPECT_FALSE(nativeBackend().eventsThreadRunning()) << "the events thread outlived the last printer";
        if (printer_.isPlugged()) {
            printer_.unplug();
            EXPECT_TRUE(waitUntil([this] { return !nativeListed(path_); }));
        }
    }

    NativeIdentity identity_;
    EmulatedNativePrinter printer_{identity_};
    std::string path_ = nativePathOf(identity_);
    size_t handlesBefore_ = 0;
};

}  // namespace linuxdev_test
