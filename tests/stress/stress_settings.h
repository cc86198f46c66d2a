// How long and from where the stress suite runs: set from the environment, so that a failing schedule can be run
// again from its seed and CI can bound the run time.
//   STRESS_SEED     the first round's seed (decimal or 0x hex); random when unset
//   STRESS_SECONDS  wall-clock budget for starting new phases (default 20)
//   STRESS_OPS      operation budget (default 5000000)
#pragma once

#include <chrono>
#include <cstdint>

struct StressSettings {
    uint64_t seed;
    bool seedGiven;
    std::chrono::seconds budget;
    uint64_t maxOperations;
};

StressSettings readStressSettings();
