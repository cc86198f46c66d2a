// Shared pieces of the file, SetupAPI and simulated-bus tests.
#pragma once

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "kernel/kernel_object.h"
#include "sim/bus.h"
#include "sim/simbus.h"

namespace sim_test {

// Long enough that only a broken implementation reaches it; tests wait for conditions, never for time.
constexpr std::chrono::seconds generous{60};

template <class Condition>
bool eventually(Condition condition) {
    auto end = std::chrono::steady_clock::now() + generous;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

template <class Result>
bool finishes(std::future<Result> &result) {
    return result.wait_for(generous) == std::future_status::ready;
}

// What a blocking call returned, collected on the thread that made it (the last error is per thread).
struct CallResult {
    BOOL ok;
    DWORD count;
    DWORD error;
};

// Starts every test with an empty bus and checks that it left no handle and no device file open.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        simbus_reset();
        handlesBefore_ = platform::openHandleCount();
    }
    void TearDown() override {
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_EQ(0, sim::openFiles()) << "a device file was left open";
        simbus_reset();
    }

    static int attach(sim::Transport transport, sim::LetterCase letterCase = sim::LetterCase::Lower,
                      const std::string &instance = std::string()) {
        sim::PrinterSetup setup;
        setup.transport = transport;
        setup.vid = 0x0DD4;
        setup.pid = 0x015D;
        setup.letterCase = letterCase;
        setup.instance = instance;
        return sim::attach(setup);
    }

    static HANDLE open(const std::string &path, DWORD flags = 0) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    }

    static HANDLE openPipe(int id, const char *pipe, DWORD flags = 0) {
        return open(sim::interfacePath(id) + "\\" + pipe, flags);
    }

    static bool send(int id, const std::string &bytes) { return sim::send(id, bytes.data(), bytes.size()); }

    static std::string taken(int id) {
        std::vector<uint8_t> bytes;
        sim::takeAll(id, bytes);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    size_t handlesBefore_ = 0;
};

}  // namespace sim_test
