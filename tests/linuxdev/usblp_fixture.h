// The usblp backend's tests: one emulated printer per test, waits on conditions with generous bounds, and the
// checks every test ends with (nothing of the backend left open, no thread of it left).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "emulated_printer.h"
#include "kernel/kernel_object.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/usblp_backend.h"
#include "support/wait.h"

namespace linuxdev_test {

using test_support::GENEROUS;
using test_support::GENEROUS_MS;
using test_support::waitUntil;

inline linuxdev::UsblpBackend &backend() { return linuxdev::UsblpBackend::instance(); }

inline std::string pathOf(const PrinterIdentity &identity) {
    return linuxdev::usbPrintInterfacePath(identity.vid, identity.pid,
                                           identity.serial.empty() ? identity.port : identity.serial);
}

inline HANDLE openPipe(const std::string &path, DWORD access, DWORD flags = FILE_FLAG_OVERLAPPED) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

// An overlapped request: its OVERLAPPED with an event of its own, and a buffer for a read.
struct Transfer {
    OVERLAPPED overlapped{};
    char buffer[64] = {};
    Transfer() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Transfer() { CloseHandle(overlapped.hEvent); }
};

// Waits for the request's end: its error, and the bytes it moved.
inline DWORD endOf(HANDLE file, Transfer &transfer, DWORD &bytes) {
    if (GetOverlappedResult(file, &transfer.overlapped, &bytes, TRUE)) return ERROR_SUCCESS;
    return GetLastError();
}

class UsblpTest : public ::testing::Test {
protected:
    void SetUp() override {
        handlesBefore_ = platform::openHandleCount();
        printer_.plug();
    }

    void TearDown() override {
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_TRUE(waitUntil([] { return backend().openDevices() == 0; })) << "a printer was left open";
        EXPECT_FALSE(backend().ioThreadRunning()) << "the I/O thread outlived the last open printer";
    }

    PrinterIdentity identity_;
    EmulatedPrinter printer_{identity_};
    std::string path_ = pathOf(identity_);
    size_t handlesBefore_ = 0;
};

}  // namespace linuxdev_test
