// The process's handle table: every kernel handle value the layer gives out, and the object it names.
#include "kernel/kernel_object.h"

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Values are multiples of 4 below 2^31, so a value survives the trip through a Java int unchanged.
constexpr uint32_t firstHandleValue = 4;
constexpr uint32_t lastHandleValue = 0x7FFFFFFC;

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uint32_t, std::shared_ptr<KernelObject>> objects;
    // How many handles name each object, so onLastHandleClosed runs once, when the last one goes.
    std::unordered_map<const KernelObject *, size_t> handleCounts;
    // Closed values, most recent last: Windows hands a just-closed value out again at once.
    std::vector<uint32_t> freeValues;
    uint32_t nextValue = firstHandleValue;
    // How many values given out had been closed before: each one a chance for a stale value to reach a new object.
    size_t reuses = 0;
};

// Never destroyed: threads the layer detached may still close handles while the process exits.
HandleTable &table() {
    static auto *instance = new HandleTable;
    return *instance;
}

// A handle matches on its low 32 bits when the upper half is their sign extension, which is how a handle comes
// back from Java (a jint widened to a pointer).
bool handleKey(HANDLE handle, uint32_t &key) {
    auto raw = reinterpret_cast<intptr_t>(handle);
    auto low = static_cast<uint32_t>(raw);
    if (raw != static_cast<intptr_t>(static_cast<int32_t>(low))) return false;
    if (low == 0 || low % 4 != 0) return false;
    key = low;
    return true;
}

uint32_t takeValue(HandleTable &t) {
    if (!t.freeValues.empty()) {
        uint32_t value = t.freeValues.back();
        t.freeValues.pop_back();
        ++t.reuses;
        return value;
    }
    if (t.nextValue > lastHandleValue) return 0;
    uint32_t value = t.nextValue;
    t.nextValue += 4;
    return value;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
    if (!object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HandleTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    uint32_t value = takeValue(t);
    if (value == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ++t.handleCounts[object.get()];
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
    uint32_t key = 0;
    if (handleKey(handle, key)) {
        HandleTable &t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        auto found = t.objects.find(key);
        if (found != t.objects.end()) return found->second;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

bool removeHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    bool lastHandle = false;
    uint32_t key = 0;
    if (handleKey(handle, key)) {
        HandleTable &t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        auto found = t.objects.find(key);
        if (found != t.objects.end()) {
            object = std::move(found->second);
            t.objects.erase(found);
            t.freeValues.push_back(key);
            auto count = t.handleCounts.find(object.get());
            if (--count->second == 0) {
                t.handleCounts.erase(count);
                lastHandle = true;
            }
        }
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // Outside the table's lock: the object may close other handles or take the wait lock here.
    if (lastHandle) object->onLastHandleClosed();
    return true;
}

size_t openHandleCount() {
    HandleTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.objects.size();
}

size_t handleReuseCount() {
    HandleTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.reuses;
}

}  // namespace platform

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) { return platform::removeHandle(hObject) ? TRUE : FALSE; }
