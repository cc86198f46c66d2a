#!/usr/bin/env bash
# Runs every benchmark, each beside its baseline: the ring buffer against memcpy and the platform layer's waits
# (Google Benchmark), the status round trip and the write over the usblp and the native backend against printers
# umockdev emulates (Google Benchmark, under umockdev-wrapper), then the end-to-end paths through the library against
# the simulated device without it (Java harness). Benchmarks are not tests: no figure fails the run. Optional
# argument: the build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIRI_WERROR=ON > "$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
targets=(VIRIVOREzu_sim java_classes ring_buffer_bench platform_wait_bench usblp_bench native_bench)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" > "$build.bench.log" 2>&1 ||
  { tail -50 "$build.bench.log"; exit 1; }

java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(uname -sr)"
echo "Java:    $("$java_home/bin/java" -version 2>&1 | head -1)"
echo "Load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"
echo

"$build/bench/ring_buffer_bench"
echo
"$build/bench/platform_wait_bench"
echo
umockdev-wrapper "$build/bench/usblp_bench" --benchmark_enable_random_interleaving=true
echo
umockdev-wrapper "$build/bench/native_bench" --benchmark_enable_random_interleaving=true
echo
"$java_home/bin/java" -Djava.library.path="$build/sim" -cp "$build/java-classes" com.qel.usb.bench.Bench
