#include "sim/stream.h"

#include <algorithm>

namespace sim {
namespace {

// The largest prime below 256: the counter sequence lines up with no power-of-two read or buffer size.
constexpr uint64_t counterModulus = 251;

}  // namespace

void Stream::start(std::vector<uint8_t> pattern, uint64_t total) {
    on_ = true;
    pattern_ = std::move(pattern);
    total_ = total;
    position_ = 0;
}

void Stream::stop() { on_ = false; }

size_t Stream::produce(std::deque<uint8_t> &out, size_t count) {
    if (!on_) return 0;
    uint64_t allowed = count;
    if (total_ != 0) allowed = std::min<uint64_t>(allowed, total_ - position_);
    for (uint64_t i = 0; i < allowed; ++i, ++position_) {
        uint8_t byte =
            pattern_.empty() ? static_cast<uint8_t>(position_ % counterModulus) : pattern_[position_ % pattern_.size()];
        out.push_back(byte);
    }
    produced_ += allowed;
    if (total_ != 0 && position_ == total_) on_ = false;
    return static_cast<size_t>(allowed);
}

}  // namespace sim
