// The schedule's randomness: every thread of a round draws from its own source, seeded from the round's seed and
// the thread's place in the round, so that what each thread does is the same on every run of the seed.
#pragma once

#include <cstdint>
#include <random>

// The SplitMix64 step: spreads neighbouring seeds far apart.
inline uint64_t mixSeed(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

class RandomSource {
public:
    RandomSource(uint64_t seed, uint64_t stream) : engine_(mixSeed(seed ^ mixSeed(stream))) {}

    uint64_t draw() { return engine_(); }
    // Uniform in [0, bound).
    uint64_t below(uint64_t bound) { return bound == 0 ? 0 : engine_() % bound; }
    // Uniform in [low, high].
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<uint64_t>(high - low) + 1)); }
    bool percent(int chance) { return static_cast<int>(below(100)) < chance; }

private:
    std::mt19937_64 engine_;
};
