// What switching the trace on or off may and may not change: the exports' results and last errors stay as they
// are, a destination that cannot be written leaves the trace off, and no thread of the trace outlives the unload.
#include <stdio.h>

#include "jni/LibraryUnload.h"
#include "kernel/thread_registry.h"
#include "printer_class_fixture.h"
#include "support/java_usb_port.h"
#include "trace_fixture.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved);

namespace printer_class_test {
namespace {

struct Outcome {
    jint result;
    jint libraryError;
    DWORD threadError;
    bool operator==(const Outcome &other) const {
        return result == other.result && libraryError == other.libraryError && threadError == other.threadError;
    }
};

std::ostream &operator<<(std::ostream &out, const Outcome &outcome) {
    return out << "{" << outcome.result << ", " << outcome.libraryError << ", " << outcome.threadError << "}";
}

// A driver's day in short, with failures of every kind: each export's result, the code usbGetLastError then
// reports, and the thread's own last error right after the export.
std::vector<Outcome> runTheExports() {
    startFromAnEmptyBus();
    fakejni::FakeJvm jvm;
    JavaUsbPort port{jvm};
    std::vector<Outcome> outcomes;
    auto note = [&](jint result) {
        DWORD threadError = GetLastError();
        outcomes.push_back({result, port.lastError(), threadError});
    };
    std::vector<jbyte> buffer(8);
    note(port.initPipe(static_cast<jint>(GENERIC_WRITE)));
    note(port.readInputPipe(0x1234, buffer));
    note(port.writeOutputPipe(0, {1, 2, 3}));
    note(port.getCommTimeout(0x55));
    note(port.setCommTimeout(0x55, 1, 2, 3, 4, 5));
    note(port.purgeRequest(0x55));
    note(port.closePipe(0x77));
    note(port.initPipe(0x1234));

    int printer = attachPrinterClassPrinter();
    note(port.initPipe(static_cast<jint>(GENERIC_WRITE)));
    note(port.initPipe(static_cast<jint>(GENERIC_READ)));
    EXPECT_TRUE(waitUntil([&] { return sim::pendingReads(printer) == 1; })) << "the reader never went pending";
    note(port.writeOutputPipe(port.hWritePort(), {0x1B, 0x40}));
    note(port.getCommTimeout(port.hReadPort()));
    note(port.closePipe(port.hReadPort()));
    note(port.closePipe(port.hWritePort()));
    ShutdownPowerHandler();
    sim::removeAll();
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
    return outcomes;
}

TEST(TraceSwitch, leavesEveryResultAndLastErrorAsItIs) {
    trace_test::switchTraceOff();
    std::vector<Outcome> untraced = runTheExports();

    testing::internal::CaptureStderr();
    trace_test::switchTraceTo("/nonexistent-folder-of-viri/trace.log");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(TraceOn());
    EXPECT_NE(std::string::npos, said.find("trace stays off")) << said;
    EXPECT_NE(std::string::npos, said.find("/nonexistent-folder-of-viri/trace.log")) << said;
    testing::internal::CaptureStderr();
    std::vector<Outcome> withBadPath = runTheExports();
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "the trace says it is off once, at the load";
    EXPECT_EQ(untraced, withBadPath);

    std::string path = trace_test::tracePath("switch");
    trace_test::switchTraceTo(path, true);
    ASSERT_TRUE(TraceOn());
    std::vector<Outcome> traced = runTheExports();
    trace_test::switchTraceOff();
    EXPECT_EQ(untraced, traced);
    EXPECT_FALSE(trace_test::linesWith(trace_test::readLines(path), "usbInitPipe.result result=-1", "err=").empty());
}

TEST(TraceSwitch, aHookKeepsTheThreadsLastError) {
    std::string path = trace_test::tracePath("last-error");
    trace_test::switchTraceTo(path, true);
    const BYTE bytes[] = {1, 2, 3};
    SetLastError(4321);
    Trace("test.event n=%d", 1);
    TraceFailure(ERROR_ACCESS_DENIED, "test.failure");
    TraceBytes("test.bytes", 4, bytes, sizeof(bytes));
    EXPECT_EQ(4321u, GetLastError());
    // An event that finds the writer stopped starts it again; a start that fails leaves the line queued for the
    // next event, and the caller's last error as it was.
    StopTraceWriter();
    platform::armFault("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    Trace("test.writer_not_started");
    EXPECT_EQ(4321u, GetLastError());
    platform::clearFaults();
    Trace("test.writer_started");
    StopTraceWriter();
    EXPECT_EQ(4321u, GetLastError());
    trace_test::switchTraceOff();
    std::vector<std::string> lines = trace_test::readLines(path);
    EXPECT_TRUE(trace_test::inOrder(lines, {"test.event n=1", "test.failure err=5 \"Access is denied.\"",
                                            "test.bytes h=4 count=3 bytes=010203", "test.writer_not_started",
                                            "test.writer_started"}));
}

TEST(TraceSwitch, writesToTheStandardErrorStream) {
    testing::internal::CaptureStderr();
    trace_test::switchTraceTo("stderr");
    Trace("test.to_stderr");
    StopTraceWriter();
    trace_test::switchTraceOff();
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, written.find("# VIRIVOREzu trace")) << written;
    EXPECT_NE(std::string::npos, written.find("java   test.to_stderr")) << written;
}

// The writer is the trace's only thread: the unload and the return to the loaded state end it, and a stopped
// writer is not started just to be stopped.
TEST(TraceSwitch, noWriterOutlivesTheUnloadOrTheReset) {
    startFromAnEmptyBus();
    trace_test::switchTraceOff();
    size_t before = platform::liveThreadCount();
    ReturnToLoadedState();
    EXPECT_EQ(before, platform::liveThreadCount());

    std::string path = trace_test::tracePath("unload");
    trace_test::switchTraceTo(path);
    EXPECT_EQ(before + 1, platform::liveThreadCount()) << "the writer";
    JNI_OnUnload(nullptr, nullptr);
    EXPECT_EQ(before, platform::liveThreadCount());

    Trace("test.after_unload");
    EXPECT_EQ(before + 1, platform::liveThreadCount()) << "the next event starts the writer again";
    ReturnToLoadedState();
    EXPECT_EQ(before, platform::liveThreadCount());
    ReturnToLoadedState();
    EXPECT_EQ(before, platform::liveThreadCount());
    platform::joinFinishedThreads();
    trace_test::switchTraceOff();

    std::vector<std::string> lines = trace_test::readLines(path);
    EXPECT_TRUE(trace_test::inOrder(lines, {"# VIRIVOREzu trace", "unload", "test.after_unload"}));
    EXPECT_EQ(1u, trace_test::linesWith(lines, "# VIRIVOREzu trace").size()) << "appended to, not started anew";
}

}  // namespace
}  // namespace printer_class_test
