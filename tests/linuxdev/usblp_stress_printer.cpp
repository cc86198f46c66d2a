#include <thread>

#include "linuxdev/usblp_backend.h"
#include "stress/random_source.h"
#include "support/wait.h"
#include "usblp_stress.h"

namespace linuxdev_test {

void StressRun::fail(const std::string &what) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back(what);
}

bool StressRun::failed() {
    std::lock_guard<std::mutex> guard(lock_);
    return !failures_.empty();
}

bool StressRun::over() {
    if (failed()) return true;
    auto now = std::chrono::steady_clock::now();
    return now >= deadline && (exercised() || now >= deadline + test_support::GENEROUS);
}

std::vector<std::string> StressRun::failures() {
    std::lock_guard<std::mutex> guard(lock_);
    return failures_;
}

std::string countingChunk(uint8_t first, size_t length) {
    std::string chunk;
    for (size_t i = 0; i < length; ++i) chunk += static_cast<char>(static_cast<uint8_t>(first + i));
    return chunk;
}

namespace {

std::chrono::steady_clock::time_point momentAfter(RandomSource &random, int lowMs, int highMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(random.between(lowMs, highMs));
}

}  // namespace

void runStressPrinter(StressRun &run, EmulatedPrinter &printer, const std::atomic<bool> &clientsDone) {
    // Stream 0 is the printer's; the clients take 1 and up.
    RandomSource random(run.seed, 0);
    uint8_t next = 0;
    auto nextUnplug = momentAfter(random, 100, 500);
    auto replugAt = std::chrono::steady_clock::now();
    while (!clientsDone) {
        // Pacing only.
        std::this_thread::sleep_for(std::chrono::microseconds(random.between(0, 2000)));
        auto now = std::chrono::steady_clock::now();
        if (!printer.isPlugged()) {
            if (now < replugAt) continue;
            printer.plug();
            nextUnplug = momentAfter(random, 100, 500);
            continue;
        }
        // Takes what the clients write, so that their writes end.
        printer.takeWritten(0);
        // Sends only to a waiting read, so that the node's buffer never fills and a read's bytes are fresh.
        if (linuxdev::UsblpBackend::instance().pendingReads() > 0) {
            next = static_cast<uint8_t>(next + printer.trySend(countingChunk(next, random.between(1, 64))));
        }
        if (now < nextUnplug || run.over()) continue;
        // Both ways a printer goes: udev first, or the node hanging up before udev says anything.
        if (random.percent(50)) {
            printer.unplug();
        } else {
            printer.unplugBeforeUdevKnows();
        }
        ++run.replugs;
        replugAt = momentAfter(random, 0, 30);
    }
    if (!printer.isPlugged()) printer.plug();
}

}  // namespace linuxdev_test
