#include "stress/power_storm.h"

#include <thread>

#include "sim/simbus.h"
#include "stress/random_source.h"

namespace {

void broadcastUntilDone(RoundContext &round, RandomSource random, int event, const std::atomic<int> &workersLeft) {
    ActivityBoard::Slot &slot = round.board.join(event == PBT_APMSUSPEND ? "storm suspender" : "storm resumer");
    while (workersLeft > 0) {
        slot.doing(event == PBT_APMSUSPEND ? "suspend broadcast" : "resume broadcast");
        simbus_power(event);
        round.countOperation();
        slot.doing("pause");
        std::this_thread::sleep_for(std::chrono::microseconds(random.below(3000)));
    }
    slot.leave();
}

}  // namespace

void runPowerStorm(RoundContext &round, uint64_t seed, const std::atomic<int> &workersLeft) {
    std::thread suspender(broadcastUntilDone, std::ref(round), RandomSource(seed, 1), PBT_APMSUSPEND,
                          std::cref(workersLeft));
    std::thread resumer(broadcastUntilDone, std::ref(round), RandomSource(seed, 2), PBT_APMRESUMESUSPEND,
                        std::cref(workersLeft));
    suspender.join();
    resumer.join();
    simbus_power(PBT_APMRESUMESUSPEND);
}
