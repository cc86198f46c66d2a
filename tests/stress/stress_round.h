// One round of the stress suite: one printer on one transport, the link opened through Java's calls, then
// orderly phases (checked strictly: no byte lost or moved) and chaotic phases (checked for safety), each chaotic
// phase followed by a full close and the check that everything the link held was released.
#pragma once

#include <jni.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "stress/activity_board.h"
#include "stress/device_habits.h"
#include "stress/write_frames.h"
#include "support/fake_jni.h"
#include "support/java_usb_port.h"

struct StressCounters {
    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> orderlyPhases{0};
    std::atomic<uint64_t> chaoticPhases{0};
    std::atomic<uint64_t> streamBytes{0};
};

// Failures seen on any thread of a round; the test's thread reports them.
class FailureLog {
public:
    void add(const std::string &what);
    bool any();
    std::vector<std::string> take();

private:
    std::mutex lock_;
    std::vector<std::string> failures_;
};

// The thread handles the platform layer holds open now.
size_t openThreadHandles();

struct RoundContext {
    RoundContext(uint64_t seed, size_t handleBaseline, size_t threadBaseline, StressCounters &counters,
                 ActivityBoard &board);

    const uint64_t seed;
    // 0 native, 1 printer class: what every successful open must report.
    const int transport;
    // Open handles and live threads of the platform layer before the round: what every close must come back to.
    const size_t handleBaseline;
    const size_t threadBaseline;
    // Thread handles among them (the library's trace writer keeps one while the trace is on).
    const size_t threadHandleBaseline;
    const DeviceHabits habits;
    StressCounters &counters;
    ActivityBoard &board;
    FailureLog failures;
    fakejni::FakeJvm jvm;
    // The driver's own port object; chaotic phases add more.
    JavaUsbPort port;
    WriteLedger ledger;
    int printer = -1;
    // A printer of the other transport that a chaotic phase plugs in beside the round's own; -1 before the first.
    // While it is present an open may report either transport.
    std::atomic<int> neighbour{-1};
    // Set just before the neighbour is attached: an open on another thread may find it before its id is stored.
    std::atomic<bool> neighbourArriving{false};

    // Read handles that Java got on the native transport, which Java alone closes.
    void keepNativeReadHandle(jint handle);
    std::vector<jint> takeNativeReadHandles();

    void countOperation() { ++counters.operations; }

private:
    std::mutex handlesLock_;
    std::vector<jint> nativeReadHandles_;
};

// Runs phases until `phaseCount` are done, the deadline passes, or something fails; always ends with the link
// closed and its release checked.
void runRound(RoundContext &round, int phaseCount, std::chrono::steady_clock::time_point deadline,
              uint64_t maxOperations);

// ---- The link, through Java's calls (link_lifecycle.cpp) ----

// Opens the write pipe, then the read pipe, as the driver does. False, with a failure logged, when either open
// does not report the round's transport.
bool openLink(RoundContext &round);
// Ends the disorder a chaotic phase leaves: faults disarmed, the printer plugged in, a suspension resumed.
bool restoreOrder(RoundContext &round);
// Closes every pipe Java holds, then checks that every handle, event, thread, window and file of the link is gone.
void closeLinkAndCheckReleased(RoundContext &round);
// Fails the round on every misuse report of the platform layer: calls that Windows would punish silently.
void checkNoMisuse(RoundContext &round);
// Checks what the printer received against the writes reported done, then forgets both.
void checkPrinterInput(RoundContext &round);
// Suspends and resumes the system with the link up and nothing else going on: Java is refused while suspended, the
// printer gets the suspend and the resume command, and after Java's next open the link works as before.
void suspendAndResume(RoundContext &round);
// Unplugs and replugs the printer while the link is closed: the bytes it still had for the host are dropped and
// its driver settings return to their defaults.
void resetPrinter(RoundContext &round);

// ---- The phases ----

// The printer sends a numbered stream at a pace the one reader keeps up with, writers write frames, a control
// thread asks harmless questions; in some phases a read fails now and then, forcing a reconnect. Every byte must
// arrive, in order, and every write reported done.
void runOrderlyPhase(RoundContext &round, uint64_t phaseSeed);
// Java threads read, write, open, close and ask at random while a controller unplugs and replugs, injects read
// errors and broadcasts suspend and resume.
void runChaoticPhase(RoundContext &round, uint64_t phaseSeed);
