#include "stress/stress_round.h"

#include "kernel/faults.h"
#include "kernel/time_scale.h"
#include "port/UsbComm.h"
#include "sim/bus.h"
#include "sim/simbus.h"
#include "stress/random_source.h"

namespace {

// The resume's 20 s take 20 ms, a timed read's 180 s take 180 ms, a closer's 2.5 s waits take 2.5 ms.
const double TIME_SCALE = 0.001;

bool exhausted(RoundContext &round, std::chrono::steady_clock::time_point deadline, uint64_t maxOperations) {
    return std::chrono::steady_clock::now() >= deadline || round.counters.operations >= maxOperations;
}

DeviceHabits habitsOfRound(uint64_t seed) {
    RandomSource random(seed, 2000);
    return drawDeviceHabits(random);
}

}  // namespace

void FailureLog::add(const std::string &what) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back(what);
}

bool FailureLog::any() {
    std::lock_guard<std::mutex> guard(lock_);
    return !failures_.empty();
}

std::vector<std::string> FailureLog::take() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::move(failures_);
}

RoundContext::RoundContext(uint64_t seed, size_t handleBaseline, size_t threadBaseline, StressCounters &counters,
                           ActivityBoard &board)
    : seed(seed),
      transport(static_cast<int>(mixSeed(seed) & 1)),
      handleBaseline(handleBaseline),
      threadBaseline(threadBaseline),
      threadHandleBaseline(openThreadHandles()),
      habits(habitsOfRound(seed)),
      counters(counters),
      board(board),
      port(jvm) {}

void RoundContext::keepNativeReadHandle(jint handle) {
    std::lock_guard<std::mutex> guard(handlesLock_);
    nativeReadHandles_.push_back(handle);
}

std::vector<jint> RoundContext::takeNativeReadHandles() {
    std::lock_guard<std::mutex> guard(handlesLock_);
    return std::move(nativeReadHandles_);
}

void runRound(RoundContext &round, int phaseCount, std::chrono::steady_clock::time_point deadline,
              uint64_t maxOperations) {
    sim::removeAll();
    platform::clearFaults();
    platform::setTimeScale(TIME_SCALE);
    round.printer = simbus_attach_default(round.transport);
    if (round.printer < 0 || !applyDeviceHabits(round.printer, round.habits)) {
        round.failures.add("the simulated printer could not be attached with the round's habits");
        return;
    }

    RandomSource phaseSeeds(round.seed, 0);
    bool linkOpen = openLink(round);
    for (int phase = 0; linkOpen && phase < phaseCount && !exhausted(round, deadline, maxOperations); ++phase) {
        if (round.transport == USB_TYPE_PRINTER_CLASS && phaseSeeds.percent(40)) suspendAndResume(round);
        uint64_t orderlySeed = phaseSeeds.draw();
        if (!round.failures.any()) runOrderlyPhase(round, orderlySeed);
        checkPrinterInput(round);
        if (round.failures.any()) break;

        runChaoticPhase(round, phaseSeeds.draw());
        restoreOrder(round);
        closeLinkAndCheckReleased(round);
        checkPrinterInput(round);
        resetPrinter(round);
        linkOpen = !round.failures.any() && openLink(round);
    }
    if (linkOpen) {
        closeLinkAndCheckReleased(round);
        checkPrinterInput(round);
    }
}
