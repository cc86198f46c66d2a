#include "suites.h"

#include "java_port.h"
#include "simulated_printer.h"
#include "wine_probes.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace winetest {

namespace {

const DWORD kBound = 10000;
// The resume handling pauses 15 s before it reopens and 5 s before it ends the suspended state, in real time.
const DWORD kResumeBound = 60000;
const DWORD kSuspendHangBound = 10000;
const jint kPowerSuspendedCode = 0x100E0697;

const Bytes kSuspendCommand = {0x1D, 0xFF};
const Bytes kResumeCommand = {0x1D, 0x04, 0x02, 0x1B, 0x40};

void expectRefusedWhileSuspended(Checks &checks, JavaPort &port, jint writeHandle, jint readHandle) {
    checks.expectEqual(port.write(writeHandle, bytes({0x0A})), kPowerSuspendedCode, "usbWriteOutputPipe");
    checks.expectEqual(port.lastError(), kPowerSuspendedCode, "usbGetLastError after the write");
    checks.expectEqual(port.errorString(kPowerSuspendedCode), "Power Suspended\n", "its text");
    Bytes array;
    checks.expectEqual(port.read(readHandle, 8, 0, array), -1, "usbReadInputPipe");
    checks.expectEqual(port.lastError(), kPowerSuspendedCode, "usbGetLastError after the read");
    checks.expectEqual(port.initPipe(kGenericWrite), -1, "usbInitPipe");
}

// Plugs the printer, opens both of its pipes through Java and finds the power window the open brought up; false when
// the printer or the window is missing.
bool openLinkWithPowerWindow(Checks &checks, SimulatedPrinter &printer, JavaPort &port, HWND &window) {
    std::string error;
    if (!checks.expect(printer.plug(error), "plug: " + error)) {
        return false;
    }
    checks.expectEqual(port.initPipe(kGenericWrite), 1, "usbInitPipe for writing");
    checks.expectEqual(port.initPipe(kGenericRead), 1, "usbInitPipe for reading");
    return checks.expect(waitUntil([&] { return (window = findPowerWindow()) != nullptr; }, kBound),
                         "FindWindowA finds the power window");
}

void suspendAndResume(Checks &checks, fakejni::FakeJvm &jvm, const UsbPortLibrary &library) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    JavaPort port(jvm, library, kUntouched);
    HWND window = nullptr;
    if (!openLinkWithPowerWindow(checks, printer, port, window)) {
        return;
    }
    const jint writeHandle = port.writeField();
    const jint readHandle = port.readField();
    checks.expect(printer.writePipe().waitForLiveConnections(1, kBound), "the write pipe is held");

    // The suspend handling runs inside the window procedure; SendMessage returns when it is done.
    printer.writePipe().clearReceived();
    checks.expectEqual(SendMessageA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1, "PBT_APMSUSPEND");
    // The pipe's server thread takes the bytes in after the library's write has ended.
    checks.expect(printer.writePipe().waitForReceived(kSuspendCommand.size(), kBound), "the suspend command arrives");
    checks.expectEqual(printer.writePipe().received(), kSuspendCommand, "the suspend command on the wire");
    checks.expect(printer.readPipe().waitForLiveConnections(0, kBound), "the read pipe is released");
    checks.expect(printer.writePipe().waitForLiveConnections(0, kBound), "the write pipe is released");
    expectRefusedWhileSuspended(checks, port, writeHandle, readHandle);

    printer.writePipe().clearReceived();
    // Shared with the broadcasting thread by ownership, so that it may outlive this case if the handler hangs.
    struct Resume {
        std::atomic<LRESULT> answer{-1};
        std::atomic<bool> done{false};
    };
    auto resume = std::make_shared<Resume>();
    std::thread broadcaster([resume, window] {
        resume->answer = SendMessageA(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        resume->done = true;
    });
    checks.expect(printer.writePipe().waitForReceived(kResumeCommand.size(), kResumeBound),
                  "the resume command arrives");
    checks.expectEqual(printer.writePipe().received(), kResumeCommand, "the resume command on the wire");
    if (!checks.expect(waitUntil([&] { return resume->done.load(); }, kResumeBound), "the resume handling ends")) {
        broadcaster.detach();
        return;
    }
    broadcaster.join();
    checks.expectEqual(resume->answer.load(), 1, "PBT_APMRESUMESUSPEND");

    // The link is back, on handles the library opened by itself.
    printer.writePipe().clearReceived();
    checks.expectEqual(port.write(writeHandle, bytes({0x1B, 0x40})), 0, "usbWriteOutputPipe after the resume");
    checks.expect(printer.writePipe().waitForReceived(2, kBound), "the write arrives");
    checks.expect(printer.readPipe().sendToClient(bytes({0x12})), "the printer answers");
    Bytes array;
    checks.expectEqual(port.read(readHandle, 4, 0, array), 1, "usbReadInputPipe after the resume");
    checks.expectEqual(array, bytes({0x12, 0, 0, 0}), "the Java array after the read");

    checks.expectEqual(port.closePipe(readHandle), 0, "usbClosePipe");
    checks.expectEqual(port.closePipe(writeHandle), 0, "usbClosePipe of the other handle");
    checks.expect(printer.readPipe().waitForLiveConnections(0, kBound), "the read pipe is released");
    checks.expect(printer.writePipe().waitForLiveConnections(0, kBound), "the write pipe is released");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");
    expectCleanJni(checks, jvm);
}

// A suspend while the printer takes no data (cover open, paper out): Windows gives the handler about two seconds,
// the library bounds its suspend command and its wait for the reader, so the handler must return and still close
// the link. The bound checked is ten seconds: this is a hang test, not a measurement.
void suspendWhileThePrinterTakesNoData(Checks &checks, fakejni::FakeJvm &jvm, const UsbPortLibrary &library) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    JavaPort port(jvm, library, kUntouched);
    HWND window = nullptr;
    if (!openLinkWithPowerWindow(checks, printer, port, window)) {
        return;
    }
    const jint writeHandle = port.writeField();
    const jint readHandle = port.readField();
    checks.expect(printer.readPipe().waitForLiveConnections(1, kBound), "the read pipe is held");
    checks.expect(printer.writePipe().waitForLiveConnections(1, kBound), "the write pipe is held");
    if (!checks.expect(printer.writePipe().stopReading(), "the printer stops taking data")) {
        return;
    }

    DWORD_PTR answer = 0;
    const ULONGLONG start = GetTickCount64();
    const bool returned =
        SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0, SMTO_NORMAL, kSuspendHangBound, &answer) != 0;
    std::printf("    the suspend handler took %llu ms\n", GetTickCount64() - start);
    checks.expect(returned, "the suspend handler returns although the printer takes no data");
    checks.expectEqual(static_cast<long long>(answer), 1, "PBT_APMSUSPEND");
    checks.expect(printer.readPipe().waitForLiveConnections(0, kBound), "the read pipe is released");
    expectRefusedWhileSuspended(checks, port, writeHandle, readHandle);
    // A printer that does not read does not see its host go either.
    checks.expect(printer.writePipe().startReading(), "the printer takes data again");
    checks.expect(printer.writePipe().waitForLiveConnections(0, kBound), "the write pipe is released");

    // Java closes the link while the system is away: the resume then reopens nothing and tells the printer nothing,
    // and takes only the library's closing 5 s.
    port.closePipe(readHandle);
    port.closePipe(writeHandle);
    printer.writePipe().clearReceived();
    const int writeOpensBefore = printer.writePipe().totalConnections();
    answer = 0;
    checks.expect(SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0, SMTO_NORMAL, kResumeBound,
                                      &answer) != 0,
                  "the resume handling ends");
    checks.expectEqual(static_cast<long long>(answer), 1, "PBT_APMRESUMESUSPEND");
    checks.expectEqual(printer.writePipe().received(), Bytes(), "no resume command for a link Java closed");
    checks.expectEqual(printer.writePipe().totalConnections(), writeOpensBefore, "the write pipe was not reopened");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");

    // The library is whole again: the printer that has recovered opens and prints.
    checks.expectEqual(port.initPipe(kGenericWrite), 1, "usbInitPipe after the resume");
    checks.expectEqual(port.write(port.writeField(), bytes({0x1B, 0x40})), 0, "usbWriteOutputPipe");
    checks.expect(printer.writePipe().waitForReceived(2, kBound), "the write arrives");
    checks.expectEqual(port.closePipe(port.writeField()), 0, "usbClosePipe");
    expectCleanJni(checks, jvm);
}

// A till woken with nobody at it (a scheduled task, a remote wake for a print job) gets PBT_APMRESUMEAUTOMATIC
// alone, and the link must come back on it; the PBT_APMRESUMESUSPEND that follows once a person arrives puts
// nothing more on the wire.
void unattendedWake(Checks &checks, fakejni::FakeJvm &jvm, const UsbPortLibrary &library) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    JavaPort port(jvm, library, kUntouched);
    HWND window = nullptr;
    if (!openLinkWithPowerWindow(checks, printer, port, window)) {
        return;
    }
    // A byte through the reader shows its loop running, so that the suspend finds the link connected and closes it.
    checks.expect(printer.readPipe().sendToClient(bytes({0x12})), "the printer answers");
    Bytes array;
    checks.expectEqual(port.read(port.readField(), 4, 0, array), 1, "usbReadInputPipe before the suspend");
    checks.expectEqual(SendMessageA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 1, "PBT_APMSUSPEND");
    checks.expect(printer.writePipe().waitForLiveConnections(0, kBound), "the write pipe is released");

    printer.writePipe().clearReceived();
    DWORD_PTR answer = 0;
    checks.expect(SendMessageTimeoutA(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, SMTO_NORMAL, kResumeBound,
                                      &answer) != 0,
                  "the automatic resume's handling ends");
    checks.expect(printer.writePipe().waitForReceived(kResumeCommand.size(), kBound), "the resume command arrives");
    checks.expectEqual(printer.writePipe().received(), kResumeCommand, "the resume command on the wire");

    // A write after the second resume lands behind anything that resume would have written.
    printer.writePipe().clearReceived();
    checks.expectEqual(SendMessageA(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0), 1, "PBT_APMRESUMESUSPEND");
    checks.expectEqual(port.write(port.writeField(), bytes({0x1B, 0x40})), 0, "usbWriteOutputPipe after both");
    checks.expect(printer.writePipe().waitForReceived(2, kBound), "the write arrives");
    checks.expectEqual(printer.writePipe().received(), bytes({0x1B, 0x40}), "only the write, no second command");

    checks.expectEqual(port.closePipe(port.readField()), 0, "usbClosePipe");
    checks.expectEqual(port.closePipe(port.writeField()), 0, "usbClosePipe of the other handle");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");
    expectCleanJni(checks, jvm);
}

}  // namespace

void runPowerSuite(TestRunner &runner, const UsbPortLibrary &library) {
    fakejni::FakeJvm jvm;
    runner.run("suspend and resume through WM_POWERBROADCAST put 1D FF and 1D 04 02 1B 40 on the wire",
               [&](Checks &checks) { suspendAndResume(checks, jvm, library); });
    runner.run(
        "a suspend while the printer takes no data returns in time and closes the link; the resume after "
        "Java closed it reopens nothing",
        [&](Checks &checks) { suspendWhileThePrinterTakesNoData(checks, jvm, library); });
    runner.run(
        "an unattended wake's PBT_APMRESUMEAUTOMATIC alone brings the link back with 1D 04 02 1B 40; the "
        "PBT_APMRESUMESUSPEND after it sends nothing",
        [&](Checks &checks) { unattendedWake(checks, jvm, library); });
}

}  // namespace winetest
