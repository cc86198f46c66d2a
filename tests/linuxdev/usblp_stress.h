// A short seeded stress of the usblp backend against one emulated printer: client threads open and close handles
// on the three names of the printer, read, write, cancel and close while requests wait, and the printer's thread
// takes what is written, answers pending reads with a counting stream, and unplugs and replugs now and then. Built
// to run under ThreadSanitizer; the checks are those of safety: every request ends, with a code Windows gives for
// it, and a read's bytes are a run of the printer's stream, neither torn nor from elsewhere.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emulated_printer.h"
#include "stress/activity_board.h"

namespace linuxdev_test {

class StressRun {
public:
    StressRun(uint64_t seed, std::string path, std::chrono::steady_clock::time_point deadline)
        : seed(seed), path(std::move(path)), deadline(deadline) {}

    const uint64_t seed;
    const std::string path;
    const std::chrono::steady_clock::time_point deadline;
    // The native transport's run: a read may time out with what arrived (none, too), and a purge ends requests.
    bool native = false;
    // The clients' calls into the layer; the watchdog's measure of progress.
    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<uint64_t> replugs{0};
    ActivityBoard board;

    void fail(const std::string &what);
    bool failed();
    std::vector<std::string> failures();
    // What the run is for happened (a replug, a read that got bytes). Until it has, the run goes on past its deadline,
    // up to a generous bound: on a loaded machine the few seconds may hold only a few calls.
    std::function<bool()> exercised = [] { return true; };
    bool over();

private:
    std::mutex lock_;
    std::vector<std::string> failures_;
};

// How long a run lasts: USBLP_STRESS_SECONDS, 3 s by default.
std::chrono::seconds stressLength();
// The line that tells how to replay the run of `seed`.
std::string replayLine(uint64_t seed);

// One client thread, until the run is over. `index` picks its share of the seed.
void runStressClient(StressRun &run, int index);
// A counting chunk of the printer's stream, from `first` on.
std::string countingChunk(uint8_t first, size_t length);
// The printer's side until `clientsDone`; leaves the printer plugged in.
void runStressPrinter(StressRun &run, EmulatedPrinter &printer, const std::atomic<bool> &clientsDone);

}  // namespace linuxdev_test
