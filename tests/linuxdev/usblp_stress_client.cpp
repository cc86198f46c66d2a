#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "files/nt_status.h"
#include "linuxdev/usblp_backend.h"
#include "stress/random_source.h"
#include "usblp_fixture.h"
#include "usblp_stress.h"

namespace linuxdev_test {
namespace {

enum PipeName { Bare, Pipe00, Pipe01 };

struct Request {
    OVERLAPPED overlapped{};
    std::vector<char> buffer;
    explicit Request(size_t size) : buffer(size, '\xFF') {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Request() { CloseHandle(overlapped.hEvent); }
    DWORD size() const { return static_cast<DWORD>(buffer.size()); }
};

struct Client {
    StressRun &run;
    RandomSource random;
    ActivityBoard::Slot &slot;
    std::string name;

    void fail(const std::string &what) { run.fail(name + ": " + what); }
};

// A request that never ends would leave its OVERLAPPED to the layer after it is freed: the run cannot go on.
void awaitEnd(Client &client, Request &request, DWORD &error, DWORD &bytes) {
    if (WaitForSingleObject(request.overlapped.hEvent, GENEROUS_MS) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "usblp stress: %s: a request never ended (STRESS_SEED=0x%llx)\n%s", client.name.c_str(),
                     static_cast<unsigned long long>(client.run.seed), client.run.board.describe().c_str());
        // Asked after the rest is out: these take the backend's lock, which a deadlock may hold.
        linuxdev::UsblpBackend &backend = linuxdev::UsblpBackend::instance();
        std::fprintf(stderr, "backend: %zu printers open, %zu reads pending, I/O thread %s\n", backend.openDevices(),
                     backend.pendingReads(), backend.ioThreadRunning() ? "running" : "stopped");
        std::abort();
    }
    error = platform::errorFromStatus(static_cast<ULONG_PTR>(request.overlapped.Internal));
    bytes = static_cast<DWORD>(request.overlapped.InternalHigh);
}

// A request that could not start: only a printer that went refuses one, before (5) or as the request found it
// gone (1167).
bool startedOrRefused(Client &client, BOOL started, const char *what) {
    if (started) return true;
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) return true;
    if (error != ERROR_ACCESS_DENIED && error != ERROR_DEVICE_NOT_CONNECTED) {
        client.fail(std::string(what) + " refused with " + std::to_string(error));
    }
    return false;
}

const size_t LONGEST_PACKET = 64;

// The printer sends a counting stream; whatever a read returns is one unbroken run of it. On the native transport
// a read gathers packets, and with other readers taking packets and packets' surplus in between, only this holds:
// each packet counts from 0, so every byte is below the longest packet (a read's buffer starts as 0xFF, so bytes
// the read did not fill show).
bool isRun(const Client &client, const Request &request, DWORD bytes, DWORD &at) {
    for (at = 0; at < bytes; ++at) {
        auto byte = static_cast<uint8_t>(request.buffer[at]);
        if (client.run.native) {
            if (byte >= LONGEST_PACKET) return false;
        } else if (at > 0 && byte != static_cast<uint8_t>(request.buffer[at - 1] + 1)) {
            return false;
        }
    }
    return true;
}

void checkRun(Client &client, const Request &request, DWORD bytes) {
    DWORD at = 0;
    if (isRun(client, request, bytes, at)) {
        client.run.bytesRead += bytes;
        return;
    }
    std::string shown;
    for (DWORD i = 0; i < bytes; ++i) shown += " " + std::to_string(static_cast<uint8_t>(request.buffer[i]));
    client.fail("a read's bytes are not a run of the printer's stream at " + std::to_string(at) + ":" + shown);
}

// Ends a pending request one of the three ways a program does: it waits, cancels, or closes the handle. True when
// it closed the handle.
bool endSomehow(Client &client, HANDLE file, Request &request) {
    WaitForSingleObject(request.overlapped.hEvent, static_cast<DWORD>(client.random.between(0, 20)));
    int choice = client.random.between(0, 99);
    if (choice < 15) {
        client.slot.doing("closing during a request");
        CloseHandle(file);
        return true;
    }
    if (choice < 75) {
        client.slot.doing("cancelling");
        CancelIoEx(file, &request.overlapped);
    } else if (choice < 90 && client.run.native) {
        client.slot.doing("purging");
        PurgeComm(file, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    }
    return false;
}

bool readOnce(Client &client, HANDLE file) {
    Request request(static_cast<size_t>(client.random.between(1, 64)));
    client.slot.doing("reading");
    BOOL done = ReadFile(file, request.buffer.data(), request.size(), nullptr, &request.overlapped);
    if (!startedOrRefused(client, done, "a read")) return true;
    bool closed = endSomehow(client, file, request);
    client.slot.doing("waiting for a read's end");
    DWORD error = 0, bytes = 0;
    awaitEnd(client, request, error, bytes);
    bool timedOut = client.run.native && error == ERROR_SUCCESS && bytes == 0;
    if (error == ERROR_SUCCESS && bytes >= 1 && bytes <= request.size()) {
        checkRun(client, request, bytes);
    } else if (!timedOut && ((error != ERROR_OPERATION_ABORTED && error != ERROR_DEVICE_NOT_CONNECTED) || bytes != 0)) {
        client.fail("a read ended with " + std::to_string(error) + " and " + std::to_string(bytes) + " bytes");
    }
    return !closed;
}

bool writeOnce(Client &client, HANDLE file) {
    Request request(static_cast<size_t>(client.random.between(1, 4096)));
    for (char &byte : request.buffer) byte = static_cast<char>(client.random.draw());
    client.slot.doing("writing");
    BOOL done = WriteFile(file, request.buffer.data(), request.size(), nullptr, &request.overlapped);
    if (!startedOrRefused(client, done, "a write")) return true;
    bool closed = client.random.percent(40) && endSomehow(client, file, request);
    client.slot.doing("waiting for a write's end");
    DWORD error = 0, bytes = 0;
    awaitEnd(client, request, error, bytes);
    bool whole = error == ERROR_SUCCESS && bytes == request.size();
    bool cut = (error == ERROR_OPERATION_ABORTED || error == ERROR_DEVICE_NOT_CONNECTED) && bytes <= request.size();
    if (!whole && !cut) {
        client.fail("a write ended with " + std::to_string(error) + " and " + std::to_string(bytes) + " bytes");
    }
    return !closed;
}

// A synchronous request that failed: only a printer that went fails one, or on the native transport another
// handle's purge of the printer, which ends its pending requests too.
bool failedRightly(Client &client, DWORD error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_DEVICE_NOT_CONNECTED) return true;
    return client.run.native && error == ERROR_OPERATION_ABORTED;
}

// A synchronous write blocks until the printer took it all, or went.
void writeSynchronously(Client &client, HANDLE file) {
    std::vector<char> bytes(static_cast<size_t>(client.random.between(1, 512)), 'w');
    client.slot.doing("writing synchronously");
    DWORD put = 0;
    if (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr)) {
        if (put != bytes.size()) client.fail("a synchronous write reported " + std::to_string(put) + " bytes");
        return;
    }
    DWORD error = GetLastError();
    if (!failedRightly(client, error)) {
        client.fail("a synchronous write failed with " + std::to_string(error));
    }
}

// A synchronous read on the native transport ends with what arrived within the handle's time-outs.
void readSynchronously(Client &client, HANDLE file) {
    Request request(static_cast<size_t>(client.random.between(1, 64)));
    client.slot.doing("reading synchronously");
    DWORD got = 0;
    if (ReadFile(file, request.buffer.data(), request.size(), &got, nullptr)) {
        if (got > request.size()) client.fail("a synchronous read reported " + std::to_string(got) + " bytes");
        checkRun(client, request, got);
        return;
    }
    DWORD error = GetLastError();
    if (!failedRightly(client, error)) client.fail("a synchronous read failed with " + std::to_string(error));
}

// One handle from open to close, with a few requests on it.
void useOneHandle(Client &client) {
    static const char *const suffixes[] = {"", "\\PIPE00", "\\PIPE01"};
    auto pipe = static_cast<PipeName>(client.random.between(Bare, Pipe01));
    // The native transport's reading pipe is also used synchronously, as the library does.
    bool synchronousRead = pipe == Pipe00 && client.run.native && client.random.percent(30);
    bool overlapped = !synchronousRead && (pipe != Pipe01 || client.random.percent(70));
    DWORD access = pipe == Pipe00 ? GENERIC_READ : pipe == Pipe01 ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    client.slot.doing("opening");
    HANDLE file = openPipe(client.run.path + suffixes[pipe], access, overlapped ? FILE_FLAG_OVERLAPPED : 0);
    DWORD error = GetLastError();
    ++client.run.operations;
    if (file == INVALID_HANDLE_VALUE) {
        if (error != ERROR_FILE_NOT_FOUND) client.fail("open failed with " + std::to_string(error));
        // The printer is away; pacing only, while the printer's thread brings it back.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    bool open = true;
    for (int i = client.random.between(1, 8); i > 0 && open && !client.run.over(); --i) {
        bool read = pipe == Pipe00 || (pipe == Bare && client.random.percent(50));
        if (synchronousRead) {
            readSynchronously(client, file);
        } else if (!overlapped) {
            writeSynchronously(client, file);
        } else {
            open = read ? readOnce(client, file) : writeOnce(client, file);
        }
        ++client.run.operations;
    }
    client.slot.doing("closing");
    if (open) CloseHandle(file);
}

}  // namespace

void runStressClient(StressRun &run, int index) {
    std::string name = "client " + std::to_string(index);
    Client client{run, RandomSource(run.seed, static_cast<uint64_t>(index)), run.board.join(name), name};
    while (!run.over()) useOneHandle(client);
    client.slot.leave();
}

std::chrono::seconds stressLength() {
    const char *text = std::getenv("USBLP_STRESS_SECONDS");
    long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 3);
}

std::string replayLine(uint64_t seed) {
    char line[64];
    std::snprintf(line, sizeof line, "replay with STRESS_SEED=0x%016" PRIx64, seed);
    return line;
}

}  // namespace linuxdev_test
