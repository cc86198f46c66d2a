// Threads: suspended start, exit codes, handles after the end, thread ids and their reuse, exit hooks.
#include "kernel_test_support.h"

#include "kernel/thread.h"
#include "kernel/thread_exit.h"
#include "support/wait.h"

#include <process.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace kernel_test;

namespace {

class KernelThreads : public KernelTest {};

DWORD WINAPI returnParameter(LPVOID parameter) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter)); }

DWORD WINAPI reportOwnId(LPVOID) { return GetCurrentThreadId(); }

unsigned crtReportOwnId(void *) { return GetCurrentThreadId(); }

DWORD WINAPI waitForEvent(LPVOID event) {
    return WaitForSingleObject(static_cast<HANDLE>(event), generousMilliseconds);
}

struct Relay {
    HANDLE go;
    HANDLE done;
};

DWORD WINAPI relayGoToDone(LPVOID parameter) {
    auto *relay = static_cast<Relay *>(parameter);
    DWORD result = WaitForSingleObject(relay->go, generousMilliseconds);
    SetEvent(relay->done);
    return result;
}

DWORD exitCodeOf(HANDLE thread) {
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

struct HookRecord {
    std::mutex lock;
    std::vector<DWORD> endedIds;
    std::vector<DWORD> idsSeenInsideHook;
    // The one thread whose own handle the hook looks at while it ends.
    DWORD watchedId = 0;
    HANDLE watchedHandle = nullptr;
    bool watchedHandleWasSignalled = true;
};

HookRecord &hookRecord() {
    static HookRecord record;
    return record;
}

void recordThreadEnd(DWORD threadId) {
    HookRecord &record = hookRecord();
    std::lock_guard<std::mutex> guard(record.lock);
    record.endedIds.push_back(threadId);
    record.idsSeenInsideHook.push_back(GetCurrentThreadId());
    if (threadId == record.watchedId) record.watchedHandleWasSignalled = isSignalled(record.watchedHandle);
}

bool hookSaw(DWORD threadId) {
    HookRecord &record = hookRecord();
    std::lock_guard<std::mutex> guard(record.lock);
    for (size_t i = 0; i < record.endedIds.size(); ++i) {
        if (record.endedIds[i] == threadId && record.idsSeenInsideHook[i] == threadId) return true;
    }
    return false;
}

void installHookOnce() {
    static std::once_flag once;
    std::call_once(once, [] { platform::addThreadExitHook(recordThreadEnd); });
}

TEST_F(KernelThreads, aSuspendedThreadRunsOnlyAfterResume) {
    HANDLE thread = CreateThread(nullptr, 0, returnParameter, reinterpret_cast<LPVOID>(7), CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(test_support::waitUntil([thread] { return platform::isThreadHeldSuspended(thread); }))
        << "the thread never reached its suspension";
    EXPECT_EQ(exitCodeOf(thread), STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_EQ(WaitForSingleObject(thread, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_EQ(exitCodeOf(thread), 7u);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);

    SetLastError(0);
    EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(KernelThreads, theHandleOutlivesTheThreadAndAClosedHandleDoesNotStopIt) {
    HANDLE go = newEvent(true, false);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, waitForEvent, go, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(exitCodeOf(thread), STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(thread), 0u);
    ASSERT_TRUE(SetEvent(go));
    ASSERT_EQ(WaitForSingleObject(thread, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_EQ(exitCodeOf(thread), WAIT_OBJECT_0);
    EXPECT_EQ(GetThreadId(thread), id);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    CloseHandle(thread);

    // Closing the handle of a running thread leaves it running to its end.
    Relay relay{newEvent(true, false), newEvent(true, false)};
    HANDLE running = CreateThread(nullptr, 0, relayGoToDone, &relay, 0, nullptr);
    ASSERT_TRUE(CloseHandle(running));
    ASSERT_TRUE(SetEvent(relay.go));
    EXPECT_EQ(WaitForSingleObject(relay.done, generousMilliseconds), WAIT_OBJECT_0);
    CloseHandle(relay.go);
    CloseHandle(relay.done);
    CloseHandle(go);
}

// One thread ends, the next is started: it gets the id of the one that just ended.
bool nextThreadReusesTheEndedThreadsId() {
    DWORD firstId = 0;
    HANDLE first = CreateThread(nullptr, 0, reportOwnId, nullptr, 0, &firstId);
    EXPECT_EQ(WaitForSingleObject(first, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_EQ(exitCodeOf(first), firstId);
    unsigned secondId = 0;
    auto second = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, crtReportOwnId, nullptr, 0, &secondId));
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(WaitForSingleObject(second, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_EQ(exitCodeOf(second), secondId);
    EXPECT_EQ(GetThreadId(second), secondId);
    CloseHandle(first);
    CloseHandle(second);
    return secondId == firstId;
}

TEST_F(KernelThreads, threadIdsAreNonZeroMultiplesOfFourAndTheLastEndedIsReusedFirst) {
    DWORD mainId = GetCurrentThreadId();
    EXPECT_NE(mainId, 0u);
    EXPECT_EQ(mainId % 4, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mainId);

    DWORD otherId = 0;
    HANDLE other = CreateThread(nullptr, 0, reportOwnId, nullptr, 0, &otherId);
    ASSERT_EQ(WaitForSingleObject(other, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_NE(otherId, mainId);
    EXPECT_EQ(otherId % 4, 0u);
    CloseHandle(other);

    // A detached thread of an earlier test may end in between and put its own id on top; another try then works.
    bool reused = false;
    for (int attempt = 0; attempt < 5 && !reused; ++attempt) reused = nextThreadReusesTheEndedThreadsId();
    EXPECT_TRUE(reused);
}

TEST_F(KernelThreads, exitHooksRunOnTheEndingThreadBeforeItsHandleIsSignalled) {
    installHookOnce();
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, reportOwnId, nullptr, CREATE_SUSPENDED, &id);
    {
        std::lock_guard<std::mutex> guard(hookRecord().lock);
        hookRecord().watchedId = id;
        hookRecord().watchedHandle = thread;
    }
    ASSERT_EQ(ResumeThread(thread), 1u);
    ASSERT_EQ(WaitForSingleObject(thread, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_TRUE(hookSaw(id));
    {
        std::lock_guard<std::mutex> guard(hookRecord().lock);
        EXPECT_FALSE(hookRecord().watchedHandleWasSignalled);
        hookRecord().watchedId = 0;
    }
    CloseHandle(thread);

    // Threads the layer did not create get their hooks too, once they have an id.
    DWORD foreignId = 0;
    std::thread foreign([&] { foreignId = GetCurrentThreadId(); });
    foreign.join();
    EXPECT_TRUE(hookSaw(foreignId));
}

}  // namespace
