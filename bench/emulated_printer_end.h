// What the benchmarks against an emulated real printer (usblp_bench, native_bench) share: the printer's end, which
// counts what the host writes and answers each status request, and how a run's figures are reported.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
const std::string REQUEST = "\x10\x04\x01";
const size_t BLOCK = 4096;

// The printer's end: a thread takes what the host wrote (`takeWritten` waits a short while and returns what came),
// counts it and, when asked, answers each request with one byte (`answer`).
class PrinterEnd {
public:
    PrinterEnd(std::function<std::string()> takeWritten, std::function<void()> answer, bool answers)
        : takeWritten_(std::move(takeWritten)),
          answer_(std::move(answer)),
          answers_(answers),
          thread_([this] { serve(); }) {}
    ~PrinterEnd() {
        stop_ = true;
        thread_.join();
    }
    // Waits until `count` bytes arrived in all, within a generous bound.
    bool awaitReceived(uint64_t count) {
        auto end = Clock::now() + std::chrono::seconds(60);
        while (received_ < count) {
            if (Clock::now() > end) return false;
            std::this_thread::yield();
        }
        return true;
    }
    uint64_t received() const { return received_; }

private:
    void serve() {
        size_t pending = 0;
        while (!stop_) {
            std::string bytes = takeWritten_();
            received_ += bytes.size();
            if (!answers_) continue;
            pending += bytes.size();
            for (; pending >= REQUEST.size(); pending -= REQUEST.size()) answer_();
        }
    }

    std::function<std::string()> takeWritten_;
    std::function<void()> answer_;
    const bool answers_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

inline double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

inline void reportPercentiles(benchmark::State &state, std::vector<double> &micros) {
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    auto at = [&micros](double share) { return micros[static_cast<size_t>(share * (micros.size() - 1))]; };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["p99.9_us"] = at(0.999);
}

inline void countWrites(benchmark::State &state, PrinterEnd &printer) {
    uint64_t sent = static_cast<uint64_t>(state.iterations()) * BLOCK;
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    // The bytes still in flight when the timing ended arrive after it: none may be lost.
    printer.awaitReceived(sent);
    state.counters["lost_bytes"] = static_cast<double>(sent - std::min(sent, printer.received()));
}

}  // namespace bench
