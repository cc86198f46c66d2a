// The stress suite: seeded random schedules of Java threads, unplugs, read errors and power events against the
// library's exports, on both transports. A failing round prints the seed that replays it (STRESS_SEED).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/thread_registry.h"
#include "kernel/time_scale.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "sim/bus.h"
#include "stress/random_source.h"
#include "stress/stress_round.h"
#include "stress/stress_settings.h"
#include "stress/text_format.h"
#include "stress/trace_check.h"
#include "stress/watchdog.h"

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *vm, void *reserved);
extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved);

namespace {

// A failed round leaves the next ones to run, so that one run names several failing seeds; past this many the
// library's state is likely wedged and further failures would only repeat the first.
const size_t MAX_FAILED_ROUNDS = 3;

// With no operation completed for this long, the run is stuck. Generous: a sanitizer build is slow, and no single
// step of a round waits anywhere near this long when the library works.
const auto STALL_LIMIT = std::chrono::seconds(120);

const char *transportName(int transport) { return transport == USB_TYPE_PRINTER_CLASS ? "printer class" : "native"; }

std::string describePortState() {
    const CUsbComm &comm = g_UsbComm;
    return formatText(
        "port state: type %d, suspended %d, connected %d, running %d, reader busy %d, read %p, "
        "write %p, reader thread %p",
        comm.m_nUsbType.load(), comm.m_bSuspended.load(), comm.m_bConnected.load() ? 1 : 0, comm.m_bRunning.load(),
        comm.m_bReaderBusy.load(), comm.m_hReadPort.load(), comm.m_hWritePort.load(), comm.m_hReaderThread.load());
}

class Stress : public ::testing::Test {
protected:
    void SetUp() override {
        ShutdownPowerHandler();
        sim::removeAll();
        platform::clearFaults();
    }
    void TearDown() override {
        ShutdownPowerHandler();
        sim::removeAll();
        platform::clearFaults();
        platform::setTimeScale(1.0);
    }
};

struct FailedRound {
    uint64_t seed;
    int transport;
    std::string firstFailure;
};

// One line per failed round, so that a closing note can list them.
void reportFailedRounds(const std::vector<FailedRound> &failed) {
    for (const FailedRound &round : failed) {
        std::printf("stress: failed round STRESS_SEED=0x%016" PRIx64 " (%s): %s\n", round.seed,
                    transportName(round.transport), round.firstFailure.c_str());
    }
}

// What the library's unload promises: once it returns, none of its threads runs.
void checkUnloadEndsEveryThread(size_t threadBaseline) {
    JNI_OnUnload(nullptr, nullptr);
    EXPECT_LE(platform::liveThreadCount(), threadBaseline) << "threads of the layer still run after the unload";
    platform::joinFinishedThreads();
}

TEST_F(Stress, randomSchedulesOnBothTransports) {
    // As the JVM loads the library: VIRIVOREZU_TRACE runs the storm with the trace on.
    JNI_OnLoad(nullptr, nullptr);
    StressSettings settings = readStressSettings();
    size_t threadBaseline = platform::liveThreadCount();
    StressCounters counters;
    ActivityBoard board;
    std::atomic<uint64_t> currentSeed{settings.seed};
    Watchdog watchdog(
        counters.operations, board,
        [&currentSeed] {
            return formatText("replay with STRESS_SEED=0x%016" PRIx64 "\n", currentSeed.load()) + describePortState();
        },
        STALL_LIMIT);

    auto deadline = std::chrono::steady_clock::now() + settings.budget;
    uint64_t seed = settings.seed;
    int rounds[2] = {0, 0};
    std::vector<FailedRound> failed;
    size_t reusesBefore = platform::handleReuseCount();
    while (std::chrono::steady_clock::now() < deadline && counters.operations < settings.maxOperations &&
           failed.size() < MAX_FAILED_ROUNDS) {
        currentSeed = seed;
        ShutdownPowerHandler();
        sim::removeAll();
        platform::clearFaults();
        RoundContext round(seed, platform::openHandleCount(), platform::liveThreadCount(), counters, board);
        // Printed before the round runs: a crash or a sanitizer report ends the process without a test failure.
        std::printf("stress: round with STRESS_SEED=0x%016" PRIx64 " (%s; %s)\n", seed, transportName(round.transport),
                    describeDeviceHabits(round.habits).c_str());
        std::fflush(stdout);
        RandomSource shape(seed, 1000);
        runRound(round, shape.between(1, 4), deadline, settings.maxOperations);
        checkNoMisuse(round);
        ++rounds[round.transport];

        std::vector<std::string> failures = round.failures.take();
        for (const std::string &failure : failures) {
            ADD_FAILURE() << failure << "\n  (" << transportName(round.transport) << " transport; replay with "
                          << formatText("STRESS_SEED=0x%016" PRIx64, seed) << ")";
        }
        if (!failures.empty()) failed.push_back({seed, round.transport, failures.front()});
        seed = mixSeed(seed);
    }
    checkUnloadEndsEveryThread(threadBaseline);
    EXPECT_EQ("", findUnparsableTraceLine());

    std::printf("stress: %d rounds on the printer-class transport, %d on the native transport; %" PRIu64
                " orderly and %" PRIu64 " chaotic phases, %" PRIu64 " operations, %" PRIu64 " stream bytes\n",
                rounds[USB_TYPE_PRINTER_CLASS], rounds[USB_TYPE_NATIVE], counters.orderlyPhases.load(),
                counters.chaoticPhases.load(), counters.operations.load(), counters.streamBytes.load());
    std::printf("stress: handle values given out again: %zu\n", platform::handleReuseCount() - reusesBefore);
    std::printf("stress: %zu failed rounds\n", failed.size());
    reportFailedRounds(failed);
    EXPECT_GT(rounds[0] + rounds[1], 0);
}

}  // namespace
