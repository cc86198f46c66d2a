// Opening and closing the link through Java's calls, and the checks that hold whenever it is closed.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <typeinfo>

#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/misuse.h"
#include "kernel/thread.h"
#include "kernel/thread_registry.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "power/PowerWindowClass.h"
#include "sim/bus.h"
#include "stress/stress_round.h"
#include "stress/text_format.h"
#include "user32/broadcast.h"

namespace {

const auto RELEASE_BOUND = std::chrono::seconds(30);

bool waitFor(const std::function<bool()> &condition, std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The open handles by value and kind, for the report of a leak. Values are handed out low first.
std::string describeOpenHandles() {
    std::string text;
    for (uintptr_t value = 4; value < 0x4000; value += 4) {
        std::shared_ptr<platform::KernelObject> object = platform::lookupHandle(reinterpret_cast<HANDLE>(value));
        if (object) text += formatText(" 0x%x:%s", static_cast<unsigned>(value), typeid(*object).name());
    }
    return text;
}

void checkHandlesReleased(RoundContext &round) {
    // The close waits a (scaled) second for the idle power thread to end; when that runs out, the thread's handle
    // is kept until the next start or the unload. That one handle may outlast the close, nothing else may.
    size_t baseline = round.handleBaseline;
    size_t threadHandles = round.threadHandleBaseline;
    bool released = waitFor(
        [baseline, threadHandles] {
            size_t open = platform::openHandleCount();
            return open == baseline || (open == baseline + 1 && openThreadHandles() == threadHandles + 1);
        },
        RELEASE_BOUND);
    if (!released) {
        round.failures.add(formatText("after the close %zu handles are open, %zu before the link was opened:%s",
                                      platform::openHandleCount(), baseline, describeOpenHandles().c_str()));
        return;
    }
    // The unload's stop reaps a kept power thread.
    ShutdownPowerHandler();
    // Waited for, not read once: the trace writer, when the trace is on, replaces its file's handle as it rotates.
    if (!waitFor([baseline] { return platform::openHandleCount() == baseline; }, RELEASE_BOUND)) {
        round.failures.add(
            formatText("after the unload's stop %zu handles are open, %zu before the link was "
                       "opened:%s",
                       platform::openHandleCount(), baseline, describeOpenHandles().c_str()));
    }
}

// The reader and the power thread are gone once the close and the unload's stop have returned; the simulated bus's
// timer ends with the last request that has a deadline, a slow cancel's included.
void checkThreadsEnded(RoundContext &round) {
    size_t baseline = round.threadBaseline;
    if (waitFor([baseline] { return platform::liveThreadCount() <= baseline; }, RELEASE_BOUND)) return;
    round.failures.add(
        formatText("after the close %zu threads of the platform layer still run, %zu before the "
                   "round",
                   platform::liveThreadCount(), baseline));
}

void checkFieldEmpty(RoundContext &round, const char *name, const void *value) {
    if (value != nullptr) round.failures.add(std::string("after the close the port state still holds ") + name);
}

void checkPortStateEmpty(RoundContext &round) {
    CUsbComm &comm = g_UsbComm;
    checkFieldEmpty(round, "m_hReadPort", comm.m_hReadPort.load());
    checkFieldEmpty(round, "m_hWritePort", comm.m_hWritePort.load());
    checkFieldEmpty(round, "m_pCCBuffer", comm.m_pCCBuffer.load());
    checkFieldEmpty(round, "m_hStopEvent", comm.m_hStopEvent.load());
    checkFieldEmpty(round, "m_hThreadDoneEvent", comm.m_hThreadDoneEvent.load());
    checkFieldEmpty(round, "m_hDataEvent", comm.m_hDataEvent.load());
    checkFieldEmpty(round, "m_hReaderThread", comm.m_hReaderThread.load());
}

void checkJavaSide(RoundContext &round) {
    for (const std::string &problem : round.jvm.takeProblems()) round.failures.add("JNI: " + problem);
    int pinned = round.jvm.pinnedCount();
    if (pinned != 0) round.failures.add(formatText("JNI: %d array elements never released", pinned));
}

void closeJavaHandles(RoundContext &round) {
    // An open first: a detection that failed during an unplug leaves no transport recorded, and the close takes
    // its path from the recorded transport. On the printer-class transport the close of either pipe tears the
    // whole link down.
    jint written = round.port.initPipe(static_cast<jint>(GENERIC_WRITE));
    round.countOperation();
    if (written != round.transport) {
        round.failures.add(
            formatText("the open before the close returned %d, not the transport %d", written, round.transport));
    }
    round.port.closePipe(round.port.hWritePort());
    round.countOperation();

    std::vector<jint> reads = round.takeNativeReadHandles();
    std::sort(reads.begin(), reads.end());
    reads.erase(std::unique(reads.begin(), reads.end()), reads.end());
    // Some were closed already (by their owner, or through a stale value); those closes just fail.
    for (jint handle : reads) {
        round.port.closePipe(handle);
        round.countOperation();
    }
}

}  // namespace

bool openLink(RoundContext &round) {
    jint written = round.port.initPipe(static_cast<jint>(GENERIC_WRITE));
    jint read = round.port.initPipe(static_cast<jint>(GENERIC_READ));
    round.countOperation();
    round.countOperation();
    if (round.transport == USB_TYPE_NATIVE && read == round.transport) {
        round.keepNativeReadHandle(round.port.hReadPort());
    }
    if (written == round.transport && read == round.transport) return true;
    round.failures.add(formatText("opening the link: the write open returned %d, the read open %d", written, read));
    return false;
}

bool restoreOrder(RoundContext &round) {
    platform::clearFaults();
    sim::stopStream(round.printer);
    if (!sim::isPresent(round.printer)) sim::replug(round.printer);
    // Unplugged, the neighbour leaves detection to the round's own printer; its handles die, and Java's closes
    // below must still release them.
    if (round.neighbour >= 0) sim::unplug(round.neighbour);
    // The resume runs to its end inside the broadcast.
    if (g_UsbComm.m_bSuspended) platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    round.countOperation();
    if (!g_UsbComm.m_bSuspended) return true;
    bool windowThere = FindWindowA(POWER_WINDOW_CLASS, nullptr) != nullptr;
    round.failures.add(std::string("still suspended after a resume broadcast; the power window ") +
                       (windowThere ? "exists" : "is gone, so nothing can end the suspension"));
    return false;
}

void closeLinkAndCheckReleased(RoundContext &round) {
    closeJavaHandles(round);

    if (!waitFor([] { return FindWindowA(POWER_WINDOW_CLASS, nullptr) == nullptr; }, RELEASE_BOUND)) {
        round.failures.add("the power window is still there after the link was closed");
    }
    checkHandlesReleased(round);
    checkThreadsEnded(round);
    if (sim::openFiles() != 0) {
        int onNeighbour = round.neighbour >= 0 ? sim::openFiles(round.neighbour) : 0;
        round.failures.add(
            formatText("after the close %d files are open on the printers, %d of them on the "
                       "neighbour of the other transport",
                       sim::openFiles(), onNeighbour));
    }
    checkPortStateEmpty(round);
    checkJavaSide(round);
    checkNoMisuse(round);
}

void checkNoMisuse(RoundContext &round) {
    for (const std::string &report : platform::takeMisuseReports()) round.failures.add("misuse: " + report);
}

void checkPrinterInput(RoundContext &round) {
    std::vector<uint8_t> input;
    sim::takeAll(round.printer, input);
    std::string problem;
    if (round.neighbour < 0) {
        problem = round.ledger.check(input);
    } else {
        // While both were plugged in, a write went to whichever printer the last open found.
        std::vector<uint8_t> neighbourInput;
        sim::takeAll(round.neighbour, neighbourInput);
        problem = round.ledger.checkAcross({input, neighbourInput});
    }
    if (!problem.empty()) round.failures.add(problem);
    round.ledger.clear();
}

void suspendAndResume(RoundContext &round) {
    const jint suspended = static_cast<jint>(ERROR_POWER_SUSPENDED_CODE);
    // The link counts as up once its reader has started: a suspend before that finds it not connected, and sends
    // no command and closes nothing.
    if (!waitFor([] { return g_UsbComm.m_bConnected.load(); }, RELEASE_BOUND)) {
        round.failures.add("the reader thread never reported the link up");
        return;
    }
    platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    std::vector<jbyte> buffer(8);
    jint written = round.port.writeOutputPipe(round.port.hWritePort(), {1, 2, 3});
    jint writeError = round.port.lastError();
    std::string text = round.port.errorString(suspended);
    jint read = round.port.readInputPipe(round.port.hReadPort(), buffer);
    jint readError = round.port.lastError();
    jint opened = round.port.initPipe(static_cast<jint>(GENERIC_WRITE));
    if (written != suspended || writeError != suspended || text != "Power Suspended\n" || read != -1 ||
        readError != suspended || opened != -1) {
        round.failures.add(
            formatText("while suspended: write %d (last error %d), text \"%s\", read %d (last error "
                       "%d), open %d",
                       written, writeError, text.c_str(), read, readError, opened));
    }

    platform::broadcastMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    if (g_UsbComm.m_bSuspended) round.failures.add("still suspended after the resume");
    std::vector<uint8_t> input;
    sim::takeAll(round.printer, input);
    const std::vector<uint8_t> commands = {0x1D, 0xFF, 0x1D, 0x04, 0x02, 0x1B, 0x40};
    if (input != commands) {
        round.failures.add(
            formatText("around the suspend the printer got %zu bytes, not its two commands", input.size()));
    }
    for (int i = 0; i < 8; ++i) round.countOperation();
    // The resume opened new handles; Java gets them from its next open.
    openLink(round);
}

void resetPrinter(RoundContext &round) {
    sim::unplug(round.printer);
    sim::replug(round.printer);
}

size_t openThreadHandles() {
    size_t count = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4) {
        if (std::dynamic_pointer_cast<platform::Thread>(platform::lookupHandle(reinterpret_cast<HANDLE>(value)))) {
            ++count;
        }
    }
    return count;
}
