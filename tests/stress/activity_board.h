// What each thread of the suite is doing right now, for the report of a run that has stopped making progress.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

class ActivityBoard {
public:
    class Slot {
    public:
        explicit Slot(std::string name) : name_(std::move(name)) {}
        // `what` must outlive the board: a string literal.
        void doing(const char *what) { doing_ = what; }
        void leave() { active_ = false; }

    private:
        friend class ActivityBoard;
        const std::string name_;
        std::atomic<const char *> doing_{"starting"};
        std::atomic<bool> active_{true};
    };

    // A slot for the calling thread, valid as long as the board.
    Slot &join(const std::string &name);
    // One line per thread still active.
    std::string describe();

private:
    std::mutex lock_;
    std::deque<Slot> slots_;
};
