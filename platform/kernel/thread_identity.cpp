// Thread ids and thread exit hooks.
//
// Windows gives thread ids out again soon after a thread ends, so a stale id kept somewhere reaches a different
// thread. The layer does the same with a free list: the id of the thread that ended last is the next one given out.
#include "kernel/thread_exit.h"
#include "kernel/thread_identity.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {

// Thread ids are multiples of 4 like handle values, but from a range of their own so that one is not mistaken
// for the other by accident in a test.
constexpr DWORD firstThreadId = 0x1004;

using ExitHook = void (*)(DWORD threadId);

struct ThreadIds {
    std::mutex lock;
    std::vector<DWORD> freeIds;
    DWORD nextId = firstThreadId;
    std::vector<ExitHook> hooks;
};

// Never destroyed: threads still end while the process exits.
ThreadIds &ids() {
    static auto *instance = new ThreadIds;
    return *instance;
}

DWORD takeId() {
    ThreadIds &t = ids();
    std::lock_guard<std::mutex> guard(t.lock);
    if (!t.freeIds.empty()) {
        DWORD id = t.freeIds.back();
        t.freeIds.pop_back();
        return id;
    }
    DWORD id = t.nextId;
    t.nextId += 4;
    return id;
}

void giveBack(DWORD id) {
    ThreadIds &t = ids();
    std::lock_guard<std::mutex> guard(t.lock);
    t.freeIds.push_back(id);
}

std::vector<ExitHook> hookList() {
    ThreadIds &t = ids();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.hooks;
}

thread_local DWORD currentId = 0;
// Set once this thread's end-of-thread object has been destroyed; an id asked for after that can no longer be
// handed back when the thread ends.
thread_local bool pastThreadEnd = false;

void finish() {
    DWORD id = currentId;
    if (id == 0) return;
    // The id stays the thread's own while the hooks run, so they may still ask for it.
    for (ExitHook hook : hookList()) hook(id);
    currentId = 0;
    giveBack(id);
}

// Ends the thread's identity on any thread, including threads the layer did not create (the JVM's): the C++
// run-time destroys it when the thread ends.
struct ThreadEnd {
    bool armed = false;
    ~ThreadEnd() {
        finish();
        pastThreadEnd = true;
    }
};

thread_local ThreadEnd threadEnd;

void takeOwnership(DWORD id) {
    currentId = id;
    if (!pastThreadEnd) threadEnd.armed = true;
}

}  // namespace

DWORD reserveThreadId() { return takeId(); }

void releaseReservedThreadId(DWORD threadId) { giveBack(threadId); }

void adoptThreadId(DWORD threadId) { takeOwnership(threadId); }

void endCurrentThread() { finish(); }

DWORD currentThreadId() {
    if (currentId == 0) takeOwnership(takeId());
    return currentId;
}

void addThreadExitHook(void (*hook)(DWORD threadId)) {
    if (hook == nullptr) return;
    ThreadIds &t = ids();
    std::lock_guard<std::mutex> guard(t.lock);
    t.hooks.push_back(hook);
}

}  // namespace platform

extern "C" DWORD WINAPI GetCurrentThreadId(void) { return platform::currentThreadId(); }
