// What the platform layer's waits cost, to read the end-to-end figures by: a state change (mutex acquire and
// release, event set and reset) with 0, 1 or 2 other threads waiting on unrelated events, and a round of two
// hand-offs between two threads (one wakes the other, which wakes the first) through the layer's events and, for
// comparison, through a plain std::condition_variable. Like Windows, the layer wakes only the threads waiting on
// the object that changed, so idle waiters on other objects should not make a state change dearer.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Threads that wait, until destroyed, on events nobody else touches.
class IdleWaiters {
public:
    explicit IdleWaiters(int count) : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this] {
                HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                HANDLE waitList[2] = {never, stop_};
                WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
                CloseHandle(never);
            });
        }
        // Let them reach their wait; a waiter that is late only makes the first iterations cheaper.
        Sleep(20);
    }
    ~IdleWaiters() {
        SetEvent(stop_);
        for (std::thread &thread : threads_) thread.join();
        CloseHandle(stop_);
    }

private:
    HANDLE stop_;
    std::vector<std::thread> threads_;
};

void stateChanges(benchmark::State &state) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    IdleWaiters waiters(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
        SetEvent(event);
        ResetEvent(event);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4);
    CloseHandle(event);
    CloseHandle(mutex);
}

void eventHandOffs(benchmark::State &state) {
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread partner([&] {
        HANDLE waitList[2] = {ping, stop};
        while (WaitForMultipleObjects(2, waitList, FALSE, INFINITE) == WAIT_OBJECT_0) SetEvent(pong);
    });
    for (auto _ : state) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    SetEvent(stop);
    partner.join();
    CloseHandle(stop);
    CloseHandle(pong);
    CloseHandle(ping);
}

// The same two hand-offs without the platform layer: what the operating system's wake-ups cost by themselves.
void conditionVariableHandOffs(benchmark::State &state) {
    std::mutex lock;
    std::condition_variable changed;
    int turn = 0;  // 0: the benchmark's thread, 1: the partner, 2: stop
    std::thread partner([&] {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return turn != 0; });
            if (turn == 2) return;
            turn = 0;
            changed.notify_all();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> guard(lock);
        turn = 1;
        changed.notify_all();
        changed.wait(guard, [&] { return turn == 0; });
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        turn = 2;
    }
    changed.notify_all();
    partner.join();
}

BENCHMARK(stateChanges)->ArgName("idle_waiters")->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(eventHandOffs)->UseRealTime();
BENCHMARK(conditionVariableHandOffs)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
