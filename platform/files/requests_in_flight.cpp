#include "files/requests_in_flight.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kernel/misuse.h"

namespace platform {
namespace {

struct Entry {
    const IoRequest *request;
    // The request itself for whoever must cancel it by thread; it ends (and leaves here) before it is destroyed.
    std::weak_ptr<IoRequest> owner;
    HANDLE file;
};

struct InFlight {
    std::mutex lock;
    std::vector<Entry> entries;
};

// Never destroyed: detached threads may still end requests while the process exits.
InFlight &inFlight() {
    static auto *instance = new InFlight;
    return *instance;
}

bool rangesOverlap(const void *a, DWORD aLength, const void *b, DWORD bLength) {
    auto aStart = reinterpret_cast<uintptr_t>(a);
    auto bStart = reinterpret_cast<uintptr_t>(b);
    return aStart < bStart + bLength && bStart < aStart + aLength;
}

}  // namespace

void requestStarted(const std::shared_ptr<IoRequest> &request, HANDLE file) {
    InFlight &f = inFlight();
    std::lock_guard<std::mutex> guard(f.lock);
    f.entries.push_back(Entry{request.get(), request, file});
}

void requestEnded(const IoRequest &request) {
    InFlight &f = inFlight();
    std::lock_guard<std::mutex> guard(f.lock);
    auto found = std::find_if(f.entries.begin(), f.entries.end(),
                              [&request](const Entry &entry) { return entry.request == &request; });
    if (found == f.entries.end()) return;
    *found = f.entries.back();
    f.entries.pop_back();
}

std::vector<std::shared_ptr<IoRequest>> requestsOfThread(DWORD threadId) {
    std::vector<std::shared_ptr<IoRequest>> requests;
    InFlight &f = inFlight();
    std::lock_guard<std::mutex> guard(f.lock);
    for (const Entry &entry : f.entries) {
        if (entry.request->threadId() != threadId) continue;
        if (auto request = entry.owner.lock()) requests.push_back(std::move(request));
    }
    return requests;
}

void checkRecordInUse(const char *operation, HANDLE file, LPOVERLAPPED overlapped) {
    if (overlapped == nullptr) return;
    HANDLE user = nullptr;
    {
        InFlight &f = inFlight();
        std::lock_guard<std::mutex> guard(f.lock);
        for (const Entry &entry : f.entries) {
            if (entry.request->overlapped() == overlapped) user = entry.file;
        }
    }
    if (user == nullptr) return;
    reportMisuse(operation, "reuses an OVERLAPPED record whose I/O is still pending on handle " + handleText(user),
                 file);
}

void checkBufferInUse(const char *operation, HANDLE file, const void *buffer, DWORD length) {
    if (buffer == nullptr || length == 0) return;
    HANDLE reader = nullptr;
    {
        InFlight &f = inFlight();
        std::lock_guard<std::mutex> guard(f.lock);
        for (const Entry &entry : f.entries) {
            const IoRequest &pending = *entry.request;
            if (pending.kind() != IoKind::Read) continue;
            if (rangesOverlap(buffer, length, pending.buffer(), pending.length())) reader = entry.file;
        }
    }
    if (reader == nullptr) return;
    reportMisuse(operation, "uses a buffer that overlaps that of a read still pending on handle " + handleText(reader),
                 file);
}

}  // namespace platform
