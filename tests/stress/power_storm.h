// Suspends and resumes broadcast from threads of their own while Java opens, closes, reads and writes: each
// broadcast races the lifecycle operations and the other kind of broadcast, as on a machine whose lid is opened
// and closed quickly while the driver works.
#pragma once

#include <atomic>
#include <cstdint>

#include "stress/stress_round.h"

// Runs until `workersLeft` reaches zero. The last broadcast it makes is a resume.
void runPowerStorm(RoundContext &round, uint64_t seed, const std::atomic<int> &workersLeft);
