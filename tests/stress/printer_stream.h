// What the printer sends in the orderly phases: a numbered stream whose every byte follows from its place, so that
// a byte lost, doubled or moved shows at once.
#pragma once

#include <cstdint>

#include "stress/random_source.h"

inline uint8_t streamByte(uint64_t index) { return static_cast<uint8_t>(mixSeed(index)); }

// What a printer that streams without pause sends (sim::startStream with no pattern): byte i is i mod 251.
inline uint8_t counterByte(uint64_t index) { return static_cast<uint8_t>(index % 251); }

using StreamByte = uint8_t (*)(uint64_t index);
