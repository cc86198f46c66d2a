#include "kernel/thread_registry.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace {

struct Registry {
    std::mutex mutex;
    // Signalled whenever a thread moves from running to returned.
    std::condition_variable changed;
    // Threads still inside their start function; `finished` once their work is done.
    struct Running {
        std::thread thread;
        bool finished = false;
    };
    std::map<LayerThreadId, Running> running;
    // Threads past the last line of their start function, not yet joined.
    std::map<LayerThreadId, std::thread> returned;
    LayerThreadId lastId = 0;
    std::vector<void (*)()> unloadHooks;
};

// Never destroyed: threads may still return while the process exits.
Registry &registry() {
    static auto *instance = new Registry;
    return *instance;
}

thread_local LayerThreadId currentId = 0;

void runLayerThread(LayerThreadId id, const std::function<void()> &body) {
    currentId = id;
    body();
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto self = r.running.find(id);
    r.returned.emplace(id, std::move(self->second.thread));
    r.running.erase(self);
    r.changed.notify_all();
}

void joinAll(std::map<LayerThreadId, std::thread> &threads) {
    for (auto &entry : threads) entry.second.join();
}

// How long the unload waits for threads whose work is done to return.
constexpr std::chrono::seconds returnBound{5};

// At the library's unload (dlclose) or the process's exit.
__attribute__((destructor)) void unloadThreads() {
    std::vector<void (*)()> hooks;
    {
        std::lock_guard<std::mutex> guard(registry().mutex);
        hooks = registry().unloadHooks;
    }
    for (auto hook : hooks) hook();
    Registry &r = registry();
    {
        // A thread whose work is done is still returning; it is joined once it has.
        std::unique_lock<std::mutex> lock(r.mutex);
        r.changed.wait_for(lock, returnBound, [&r] {
            for (const auto &entry : r.running) {
                if (entry.second.finished) return false;
            }
            return true;
        });
    }
    joinFinishedThreads();
}

// Registered with the first thread: exit handlers registered later run earlier, before the checks of the process's
// own exit handlers (a thread sanitizer's leak check among them) and before the library's destructors.
void registerExitJoin() {
    static bool registered = (std::atexit(unloadThreads), true);
    (void)registered;
}

}  // namespace

LayerThreadId startLayerThread(std::function<void()> body) {
    registerExitJoin();
    joinFinishedThreads();
    Registry &r = registry();
    // Held while the thread starts, so that it cannot finish before it is registered.
    std::lock_guard<std::mutex> guard(r.mutex);
    LayerThreadId id = r.lastId + 1;
    std::thread thread(runLayerThread, id, std::move(body));
    r.lastId = id;
    r.running[id].thread = std::move(thread);
    return id;
}

void markLayerThreadFinished() {
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto self = r.running.find(currentId);
    if (self != r.running.end()) self->second.finished = true;
}

size_t liveThreadCount() {
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    size_t live = 0;
    for (const auto &entry : r.running) {
        if (!entry.second.finished) ++live;
    }
    return live;
}

void joinFinishedThreads() {
    std::map<LayerThreadId, std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(registry().mutex);
        threads.swap(registry().returned);
    }
    joinAll(threads);
}

void joinLayerThread(LayerThreadId id) {
    Registry &r = registry();
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(r.mutex);
        r.changed.wait(lock, [&r, id] { return r.running.count(id) == 0; });
        auto found = r.returned.find(id);
        if (found == r.returned.end()) return;
        thread = std::move(found->second);
        r.returned.erase(found);
    }
    if (thread.joinable()) thread.join();
}

void addUnloadHook(void (*hook)()) {
    std::lock_guard<std::mutex> guard(registry().mutex);
    registry().unloadHooks.push_back(hook);
}

}  // namespace platform
