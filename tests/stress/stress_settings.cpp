#include "stress/stress_settings.h"

#include <cstdlib>
#include <random>

namespace {

bool readNumber(const char *name, uint64_t *value) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    unsigned long long parsed = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0') return false;
    *value = parsed;
    return true;
}

}  // namespace

StressSettings readStressSettings() {
    StressSettings settings;
    settings.seedGiven = readNumber("STRESS_SEED", &settings.seed);
    if (!settings.seedGiven) {
        std::random_device device;
        settings.seed = (uint64_t{device()} << 32) | device();
    }
    uint64_t seconds = 20;
    readNumber("STRESS_SECONDS", &seconds);
    settings.budget = std::chrono::seconds(seconds);
    settings.maxOperations = 5000000;
    readNumber("STRESS_OPS", &settings.maxOperations);
    return settings;
}
