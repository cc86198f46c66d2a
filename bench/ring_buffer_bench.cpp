// The receive ring buffer's bulk put and take, against memcpy of the same bytes. The reader thread puts the 64-byte
// blocks it receives, and a Java read takes them out; each block is one locked put and one locked take.
//
// Besides Google Benchmark's own table, prints each ring buffer figure as a ratio of its memcpy baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "printerclass/CircularBuffer.h"

namespace {

// The library's ring buffer size: 2^12 bytes.
const DWORD sizeExponent = 12;
const size_t capacity = size_t{1} << sizeExponent;

void ringBufferPutTake(benchmark::State &state) {
    const auto block = static_cast<DWORD>(state.range(0));
    CCircularBuffer buffer(sizeExponent);
    std::vector<BYTE> source(block, 0x5A);
    std::vector<BYTE> destination(block);
    for (auto _ : state) {
        buffer.PutBytes(source.data(), block);
        DWORD taken = 0;
        buffer.BytesAvailable(destination.data(), block, &taken);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * block);
}

// The same bytes moved once, from where the reader has them to where Java wants them.
void memcpyOnce(benchmark::State &state) {
    const auto block = static_cast<size_t>(state.range(0));
    std::vector<BYTE> source(block, 0x5A);
    std::vector<BYTE> destination(block);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), block);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * block);
}

// The two copies the ring buffer makes (into a 4 KiB area at a moving offset, and out again), without the lock
// and the bookkeeping: what the buffer would cost if only its copying counted.
void memcpyTwiceThroughArea(benchmark::State &state) {
    const auto block = static_cast<size_t>(state.range(0));
    std::vector<BYTE> source(block, 0x5A);
    std::vector<BYTE> area(capacity);
    std::vector<BYTE> destination(block);
    size_t offset = 0;
    for (auto _ : state) {
        std::memcpy(area.data() + offset, source.data(), block);
        std::memcpy(destination.data(), area.data() + offset, block);
        offset = (offset + block) % capacity;
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * block);
}

BENCHMARK(ringBufferPutTake)->Arg(64)->Arg(1024);
BENCHMARK(memcpyOnce)->Arg(64)->Arg(1024);
BENCHMARK(memcpyTwiceThroughArea)->Arg(64)->Arg(1024);

// Keeps every run's throughput for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto counter = run.counters.find("bytes_per_second");
            if (counter != run.counters.end()) throughput_[run.benchmark_name()] = counter->second.value;
        }
    }

    void printRatios() const {
        std::printf("\nring buffer put+take throughput as a share of its baselines\n");
        for (const char *block : {"64", "1024"}) {
            double ring = find(std::string("ringBufferPutTake/") + block);
            double once = find(std::string("memcpyOnce/") + block);
            double twice = find(std::string("memcpyTwiceThroughArea/") + block);
            if (ring <= 0 || once <= 0 || twice <= 0) continue;
            std::printf("  %5s-byte blocks: %8.1f MB/s = %.3f of memcpy (%.1f MB/s), %.3f of two copies (%.1f MB/s)\n",
                        block, ring / 1e6, ring / once, once / 1e6, ring / twice, twice / 1e6);
        }
    }

private:
    double find(const std::string &name) const {
        auto found = throughput_.find(name);
        return found == throughput_.end() ? 0.0 : found->second;
    }

    std::map<std::string, double> throughput_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
