// Fault injection: armed failures of named Win32 operations, for tests of the library's error paths.
#include "kernel/faults.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {
namespace {

// Every operation of the layer that asks injectedFault whether to fail. Memory allocation by the C++ run-time
// is deliberately not among them.
const char *const knownOperations[] = {
    "CreateFileA",
    "ReadFile",
    "WriteFile",
    "DeviceIoControl",
    "PurgeComm",
    "GetOverlappedResult",
    "CancelIo",
    "CancelIoEx",
    "CreateEventA",
    "SetEvent",
    "ResetEvent",
    "CreateMutexA",
    "CreateThread",
    "ResumeThread",
    "_beginthreadex",
    "WaitForSingleObject",
    "WaitForMultipleObjects",
    "GlobalAlloc",
    "GlobalLock",
    "FormatMessageA",
    "SetupDiGetClassDevsA",
    "SetupDiEnumDeviceInterfaces",
    "SetupDiGetDeviceInterfaceDetailA",
    "RegisterClassExA",
    "CreateWindowExA",
    "PostThreadMessageA",
};

struct Armed {
    int remaining;
    DWORD error;
    int skip;
};

struct FaultTable {
    std::mutex lock;
    std::unordered_map<std::string, Armed> armed;
    // Lets the common case, nothing armed, skip the lock and the string.
    std::atomic<size_t> armedCount{0};
};

FaultTable &faults() {
    static auto *instance = new FaultTable;
    return *instance;
}

bool isKnown(const char *operation) {
    for (const char *known : knownOperations) {
        if (std::strcmp(known, operation) == 0) return true;
    }
    return false;
}

}  // namespace

bool armFault(const char *operation, int times, DWORD error, int skip) {
    if (operation == nullptr || !isKnown(operation)) return false;
    FaultTable &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    if (times <= 0) {
        f.armed.erase(operation);
    } else {
        f.armed[operation] = Armed{times, error, skip > 0 ? skip : 0};
    }
    f.armedCount.store(f.armed.size());
    return true;
}

const char *faultName(int index) {
    int count = static_cast<int>(sizeof(knownOperations) / sizeof(knownOperations[0]));
    if (index < 0 || index >= count) return nullptr;
    return knownOperations[index];
}

void clearFaults() {
    FaultTable &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    f.armed.clear();
    f.armedCount.store(0);
}

bool injectedFault(const char *operation) {
    FaultTable &f = faults();
    if (f.armedCount.load() == 0) return false;
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> guard(f.lock);
        auto found = f.armed.find(operation);
        if (found == f.armed.end()) return false;
        if (found->second.skip > 0) {
            --found->second.skip;
            return false;
        }
        error = found->second.error;
        if (--found->second.remaining == 0) f.armed.erase(found);
        f.armedCount.store(f.armed.size());
    }
    SetLastError(error);
    return true;
}

}  // namespace platform
