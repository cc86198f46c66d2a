#include "stress/activity_board.h"

ActivityBoard::Slot &ActivityBoard::join(const std::string &name) {
    std::lock_guard<std::mutex> guard(lock_);
    slots_.emplace_back(name);
    return slots_.back();
}

std::string ActivityBoard::describe() {
    std::lock_guard<std::mutex> guard(lock_);
    std::string text;
    for (const Slot &slot : slots_) {
        if (!slot.active_) continue;
        text += "  " + slot.name_ + ": " + slot.doing_.load() + "\n";
    }
    return text;
}
