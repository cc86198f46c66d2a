#include "stress/watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(const std::atomic<uint64_t> &operations, ActivityBoard &board,
                   std::function<std::string()> describeRun, std::chrono::seconds stallLimit)
    : operations_(operations),
      board_(board),
      describeRun_(std::move(describeRun)),
      stallLimit_(stallLimit),
      thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
}

void Watchdog::watch() {
    std::unique_lock<std::mutex> guard(lock_);
    uint64_t lastCount = operations_;
    auto lastChange = std::chrono::steady_clock::now();
    while (!stopped_.wait_for(guard, std::chrono::seconds(1), [this] { return stop_; })) {
        uint64_t count = operations_;
        auto now = std::chrono::steady_clock::now();
        if (count != lastCount) {
            lastCount = count;
            lastChange = now;
            continue;
        }
        if (now - lastChange < stallLimit_) continue;
        std::fprintf(stderr, "stress: no operation completed for %lld s\n%s\nthreads:\n%s",
                     static_cast<long long>(stallLimit_.count()), describeRun_().c_str(), board_.describe().c_str());
        std::fflush(stderr);
        std::abort();
    }
}
