// The path to a simulated printer without the library: its two pipes opened for synchronous I/O straight through
// the platform layer. Benchmarks measure the library's transfers against it.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/simbus.h"

namespace {

struct RawPipes {
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
};

std::mutex pipesLock;
// Guarded by pipesLock; the handles are used outside it.
std::map<int, RawPipes> pipes;

HANDLE openPipe(int id, const char *name) {
    std::string path = sim::interfacePath(id) + "\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

bool findPipes(int id, RawPipes &found) {
    std::lock_guard<std::mutex> guard(pipesLock);
    auto it = pipes.find(id);
    if (it == pipes.end()) return false;
    found = it->second;
    return true;
}

void closePipes(const RawPipes &raw) {
    if (raw.read != INVALID_HANDLE_VALUE) CloseHandle(raw.read);
    if (raw.write != INVALID_HANDLE_VALUE) CloseHandle(raw.write);
}

}  // namespace

extern "C" {

SIMBUS_API int simbus_raw_open(int id) {
    if (sim::interfacePath(id).empty()) return -1;
    RawPipes raw;
    raw.read = openPipe(id, "PIPE00");
    raw.write = openPipe(id, "PIPE01");
    if (raw.read == INVALID_HANDLE_VALUE || raw.write == INVALID_HANDLE_VALUE) {
        closePipes(raw);
        return -1;
    }
    std::lock_guard<std::mutex> guard(pipesLock);
    if (pipes.count(id) != 0) {
        closePipes(raw);
        return -1;
    }
    pipes[id] = raw;
    return 0;
}

SIMBUS_API int simbus_raw_write(int id, const void *bytes, int n) {
    RawPipes raw;
    if (n < 0 || !findPipes(id, raw)) return -1;
    DWORD written = 0;
    if (!WriteFile(raw.write, bytes, static_cast<DWORD>(n), &written, nullptr)) return -1;
    return static_cast<int>(written);
}

SIMBUS_API int simbus_raw_read(int id, void *buf, int cap) {
    RawPipes raw;
    if (cap < 0 || !findPipes(id, raw)) return -1;
    DWORD read = 0;
    if (!ReadFile(raw.read, buf, static_cast<DWORD>(cap), &read, nullptr)) return -1;
    return static_cast<int>(read);
}

SIMBUS_API int simbus_raw_close(int id) {
    RawPipes raw;
    {
        std::lock_guard<std::mutex> guard(pipesLock);
        auto it = pipes.find(id);
        if (it == pipes.end()) return -1;
        raw = it->second;
        pipes.erase(it);
    }
    closePipes(raw);
    return 0;
}

SIMBUS_API long long simbus_discard_written(int id) {
    std::vector<uint8_t> chunk(1 << 16);
    long long discarded = 0;
    for (;;) {
        long taken = sim::take(id, chunk.data(), chunk.size());
        if (taken < 0) return discarded > 0 ? discarded : -1;
        discarded += taken;
        if (static_cast<size_t>(taken) < chunk.size()) return discarded;
    }
}

}  // extern "C"
