// A printer that sends without pause: it produces bytes only as the host's reads ask for them, as a USB device
// answers only the IN transfers the host issues, so nothing is dropped while nobody reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

class Stream {
public:
    // An empty pattern gives the counter sequence, byte i = i mod 251, in which a lost, doubled or reordered byte
    // shows. A total of 0 streams until stopped.
    void start(std::vector<uint8_t> pattern, uint64_t total);
    void stop();
    // Appends up to `count` further bytes to `out`: how many.
    size_t produce(std::deque<uint8_t> &out, size_t count);
    uint64_t produced() const { return produced_; }

private:
    bool on_ = false;
    std::vector<uint8_t> pattern_;
    uint64_t total_ = 0;
    // Counted from the start of the current stream.
    uint64_t position_ = 0;
    // Over every stream of the printer.
    uint64_t produced_ = 0;
};

}  // namespace sim
