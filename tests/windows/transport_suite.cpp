#include "suites.h"

#include "discovery/SupportedDevices.h"
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
// A code with the customer bit set: the system has no text for it.
const jint kCodeWithoutText = 0x20001234;

const Bytes kReceipt = {'V', 'I', 'R', 'I', ' ', 'r', 'e', 'c', 'e', 'i', 'p', 't', '\n', 0x1D, 0x56, 0x00};
const Bytes kPrinterAnswer = {0x12, 0x00, 0x7F};

struct Context {
    fakejni::FakeJvm jvm;
    const UsbPortLibrary *library = nullptr;
};

// What usbGetErrorString gives when it is not suspended: the system's text, or its own fallback.
std::string expectedErrorString(DWORD code) {
    std::string text = systemErrorText(code);
    return text.empty() ? "FormatMessage failed: 0\n" : text;
}

// The printer-class open starts two threads of the library's, the reader and the power window's.
std::set<DWORD> expectLibraryThreadsStarted(Checks &checks, const std::set<DWORD> &before) {
    std::set<DWORD> started = threadsAdded(before, threadIds());
    checks.expectEqual(static_cast<long long>(started.size()), 2, "threads started by the open");
    return started;
}

void expectThreadsEnded(Checks &checks, const std::set<DWORD> &threads) {
    checks.expect(waitUntil([&] { return threadsAlive(threads) == 0; }, kBound),
                  "the library's threads end; still running: " + std::to_string(threadsAlive(threads)));
}

// Opens a path as the library does and tells how that went: "open" or the error code.
std::string tryOpen(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    CloseHandle(file);
    return "open";
}

// After a failed usbInitPipe: what the system shows of the printer at that moment, so that a rare failure says
// whether the library or the simulated printer was at fault.
void describeFailedOpen(JavaPort &port, SimulatedPrinter &printer, const GUID &interfaceClass) {
    std::printf("    failed open: last error %ld\n", static_cast<long>(port.lastError()));
    for (const std::string &path : listInterfacePaths(interfaceClass)) {
        std::printf("    listed interface %s\n", path.c_str());
    }
    std::printf("    printer's interface %s: %s; PIPE00: %s\n", printer.devicePath().c_str(),
                tryOpen(printer.devicePath()).c_str(), tryOpen(printer.devicePath() + "\\PIPE00").c_str());
    std::printf("    connections live/total: interface %d/%d, PIPE00 %d/%d, PIPE01 %d/%d\n",
                printer.interfacePipe().liveConnections(), printer.interfacePipe().totalConnections(),
                printer.readPipe().liveConnections(), printer.readPipe().totalConnections(),
                printer.writePipe().liveConnections(), printer.writePipe().totalConnections());
}

// What the JVM may do to the thread's last error between the failing native call and usbGetLastError.
jint lastErrorAfterTheJvmRan(JavaPort &port) {
    SetLastError(ERROR_SUCCESS);
    return port.lastError();
}

bool plugged(Checks &checks, SimulatedPrinter &printer) {
    std::string error;
    return checks.expect(printer.plug(error), "plug: " + error);
}

// The library holds exactly one connection to each pipe once discovery's test opens are gone.
void expectHeldPipes(Checks &checks, SimulatedPrinter &printer, int count, const std::string &when) {
    checks.expect(printer.readPipe().waitForLiveConnections(count, kBound),
                  when + ": PIPE00 connections " + std::to_string(printer.readPipe().liveConnections()));
    checks.expect(printer.writePipe().waitForLiveConnections(count, kBound),
                  when + ": PIPE01 connections " + std::to_string(printer.writePipe().liveConnections()));
}

void expectReceiptArrives(Checks &checks, JavaPort &port, jint handle, SimulatedPrinter &printer) {
    printer.writePipe().clearReceived();
    checks.expectEqual(port.write(handle, kReceipt), 0, "usbWriteOutputPipe");
    checks.expect(printer.writePipe().waitForReceived(kReceipt.size(), kBound), "the receipt reaches the printer");
    checks.expectEqual(printer.writePipe().received(), kReceipt, "bytes at the printer");
}

void expectAnswerRead(Checks &checks, JavaPort &port, jint handle, SimulatedPrinter &printer) {
    checks.expect(printer.readPipe().sendToClient(kPrinterAnswer), "the printer answers");
    Bytes array;
    checks.expectEqual(port.read(handle, 16, 0x55, array), static_cast<long long>(kPrinterAnswer.size()),
                       "usbReadInputPipe");
    Bytes expected = kPrinterAnswer;
    expected.resize(16, 0x55);
    checks.expectEqual(array, expected, "the Java array after the read");
}

void withoutPrinter(Checks &checks, Context &context) {
    JavaPort port(context.jvm, *context.library, kUntouched);
    checks.expectEqual(port.genericReadValue(), kGenericRead, "usbGetGenericReadValue");
    checks.expectEqual(port.genericWriteValue(), kGenericWrite, "usbGetGenericWriteValue");
    checks.expectEqual(port.initPipe(kGenericWrite), -1, "usbInitPipe for writing");
    checks.expectEqual(lastErrorAfterTheJvmRan(port), ERROR_DEVICE_NOT_CONNECTED,
                       "usbGetLastError after it, the thread's last error cleared between");
    checks.expectEqual(port.initPipe(kGenericRead), -1, "usbInitPipe for reading");
    checks.expectEqual(port.writeField(), kUntouched, "hWritePort");
    checks.expectEqual(port.readField(), kUntouched, "hReadPort");

    const jint code = lastErrorAfterTheJvmRan(port);
    checks.expectEqual(code, ERROR_DEVICE_NOT_CONNECTED, "usbGetLastError after the failed read open");
    const std::string text = port.errorString(code);
    std::printf("    last error after the failed open: %ld, text %s\n", static_cast<long>(code), quoted(text).c_str());
    checks.expectEqual(text, expectedErrorString(code), "text of the failed open's error");
    checks.expect(!systemErrorText(ERROR_INVALID_HANDLE).empty(), "Wine has a text for error 6");
    checks.expectEqual(port.errorString(ERROR_INVALID_HANDLE), systemErrorText(ERROR_INVALID_HANDLE),
                       "text of error 6");
    checks.expectEqual(port.errorString(kCodeWithoutText), "FormatMessage failed: 0\n", "text of an unknown code");

    checks.expectEqual(port.write(0, kReceipt), ERROR_INVALID_HANDLE, "usbWriteOutputPipe with no pipe open");
    checks.expectEqual(port.lastError(), ERROR_INVALID_HANDLE, "usbGetLastError after it");
    // Wine's handle values are small multiples of four; this one is never open.
    checks.expectEqual(port.closePipe(0x7FFFFFFC), ERROR_INVALID_HANDLE, "usbClosePipe of a handle not open");
    expectCleanJni(checks, context.jvm);
}

void printerClassRoad(Checks &checks, Context &context) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    if (!plugged(checks, printer)) {
        return;
    }
    const std::set<DWORD> threadsBefore = threadIds();
    JavaPort port(context.jvm, *context.library, kUntouched);
    checks.expectEqual(port.initPipe(kGenericWrite), 1, "usbInitPipe for writing");
    if (!checks.expectEqual(port.initPipe(kGenericRead), 1, "usbInitPipe for reading")) {
        describeFailedOpen(port, printer, GUID_USBPRINT_INTERFACE);
    }
    const std::set<DWORD> libraryThreads = expectLibraryThreadsStarted(checks, threadsBefore);
    const jint writeHandle = port.writeField();
    const jint readHandle = port.readField();
    checks.expect(writeHandle != kUntouched && writeHandle != -1, "hWritePort holds a handle");
    checks.expect(readHandle != kUntouched && readHandle != -1, "hReadPort holds a handle");
    expectHeldPipes(checks, printer, 1, "while open");

    expectReceiptArrives(checks, port, writeHandle, printer);
    expectAnswerRead(checks, port, readHandle, printer);

    printer.writePipe().clearReceived();
    checks.expectEqual(port.getCommTimeout(readHandle), 1, "usbGetCommTimeout");
    checks.expectEqual(port.setCommTimeout(readHandle, 1, 2, 3, 4, 5), 1, "usbSetCommTimeout");
    checks.expectEqual(port.purge(readHandle), 1, "usbPurgeRequest");

    HWND window = nullptr;
    checks.expect(waitUntil([&] { return (window = findPowerWindow()) != nullptr; }, kBound),
                  "FindWindowA finds the power window");
    if (window != nullptr) {
        checks.expect(!IsWindowVisible(window), "the power window is hidden");
        checks.expect(GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId(),
                      "the power window lives on a thread of its own");
        checks.expectEqual(SendMessageA(window, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), 1,
                           "WM_POWERBROADCAST PBT_APMQUERYSUSPEND");
        checks.expectEqual(SendMessageA(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0), 1,
                           "WM_POWERBROADCAST PBT_APMRESUMEAUTOMATIC");
    }
    checks.expectEqual(printer.writePipe().received(), Bytes(), "nothing written by controls or broadcasts");

    checks.expectEqual(port.closePipe(readHandle), 0, "usbClosePipe of the read handle");
    checks.expectEqual(port.closePipe(writeHandle), 0, "usbClosePipe of the write handle");
    expectHeldPipes(checks, printer, 0, "after the close");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");
    expectThreadsEnded(checks, libraryThreads);
    checks.expectEqual(port.write(writeHandle, kReceipt), ERROR_INVALID_HANDLE, "usbWriteOutputPipe after close");
    expectCleanJni(checks, context.jvm);
}

void nativeRoad(Checks &checks, Context &context) {
    SimulatedPrinter printer(Transport::Native, supportedLowerCaseId(1));
    if (!plugged(checks, printer)) {
        return;
    }
    JavaPort port(context.jvm, *context.library, kUntouched);
    checks.expectEqual(port.initPipe(kGenericWrite), 0, "usbInitPipe for writing");
    if (!checks.expectEqual(port.initPipe(kGenericRead), 0, "usbInitPipe for reading")) {
        describeFailedOpen(port, printer, GUID_NATIVE_USB_INTERFACE);
    }
    const jint writeHandle = port.writeField();
    const jint readHandle = port.readField();
    checks.expect(writeHandle != kUntouched && writeHandle != -1, "hWritePort holds a handle");
    checks.expect(readHandle != kUntouched && readHandle != -1, "hReadPort holds a handle");
    expectHeldPipes(checks, printer, 1, "while open");

    expectReceiptArrives(checks, port, writeHandle, printer);
    expectAnswerRead(checks, port, readHandle, printer);

    // Pipes refuse the serial requests; the library hands Windows' code through.
    checks.expectEqual(port.getCommTimeout(readHandle), ERROR_NOT_SUPPORTED, "usbGetCommTimeout");
    checks.expectEqual(port.lastError(), ERROR_NOT_SUPPORTED, "usbGetLastError after it");
    checks.expectEqual(port.setCommTimeout(readHandle, 1, 2, 3, 4, 5), ERROR_NOT_SUPPORTED, "usbSetCommTimeout");
    checks.expectEqual(port.purge(readHandle), ERROR_NOT_SUPPORTED, "usbPurgeRequest");

    // Every read open on this transport is a new handle of Java's.
    checks.expectEqual(port.initPipe(kGenericRead), 0, "a second usbInitPipe for reading");
    const jint secondReadHandle = port.readField();
    checks.expect(secondReadHandle != readHandle, "the second read open gives another handle");
    checks.expectEqual(port.closePipe(secondReadHandle), 0, "usbClosePipe of the second read handle");
    checks.expect(findPowerWindow() == nullptr, "no power window on the native transport");

    checks.expectEqual(port.closePipe(readHandle), 0, "usbClosePipe of the read handle");
    checks.expectEqual(port.closePipe(writeHandle), 0, "usbClosePipe of the write handle");
    expectHeldPipes(checks, printer, 0, "after the close");
    expectCleanJni(checks, context.jvm);
}

void nativeFirst(Checks &checks, Context &context) {
    SimulatedPrinter printerClass(Transport::PrinterClass, supportedLowerCaseId(0));
    SimulatedPrinter native(Transport::Native, supportedLowerCaseId(1));
    if (!plugged(checks, printerClass) || !plugged(checks, native)) {
        return;
    }
    JavaPort port(context.jvm, *context.library, kUntouched);
    checks.expectEqual(port.initPipe(kGenericWrite), 0, "usbInitPipe for writing");
    expectReceiptArrives(checks, port, port.writeField(), native);
    checks.expectEqual(printerClass.writePipe().received(), Bytes(), "nothing at the printer-class printer");
    checks.expectEqual(port.closePipe(port.writeField()), 0, "usbClosePipe");
    expectCleanJni(checks, context.jvm);
}

// Opens both pipes of a printer-class printer; false (with the failures recorded) when that does not work.
bool openPrinterClass(Checks &checks, JavaPort &port, SimulatedPrinter &printer) {
    if (!checks.expectEqual(port.initPipe(kGenericWrite), 1, "usbInitPipe for writing")) return false;
    if (checks.expectEqual(port.initPipe(kGenericRead), 1, "usbInitPipe for reading")) return true;
    describeFailedOpen(port, printer, GUID_USBPRINT_INTERFACE);
    return false;
}

void closeDuringRead(Checks &checks, Context &context) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    if (!plugged(checks, printer)) {
        return;
    }
    const std::set<DWORD> threadsBefore = threadIds();
    auto port = std::make_shared<JavaPort>(context.jvm, *context.library, kUntouched);
    if (!openPrinterClass(checks, *port, printer)) {
        return;
    }
    const std::set<DWORD> libraryThreads = expectLibraryThreadsStarted(checks, threadsBefore);
    // A Java read on a silent printer waits on the data and stop events; the close must end it at once.
    // Shared with the reading thread by ownership, as is the port, so that it may outlive this case if the read
    // hangs.
    struct Read {
        std::atomic<jint> result{0};
        std::atomic<bool> done{false};
    };
    auto read = std::make_shared<Read>();
    const jint readHandle = port->readField();
    std::thread reader([read, port, readHandle] {
        Bytes array;
        read->result = port->read(readHandle, 8, 0, array);
        read->done = true;
    });
    // Give the read the moment to reach its wait; had it not, the close must still end it.
    checks.expect(!waitUntil([&] { return read->done.load(); }, 200), "the read waits for the printer");
    checks.expectEqual(port->closePipe(readHandle), 0, "usbClosePipe during the read");
    if (!checks.expect(waitUntil([&] { return read->done.load(); }, kBound), "the close ends the read")) {
        reader.detach();
        return;
    }
    reader.join();
    checks.expectEqual(read->result.load(), -1, "usbReadInputPipe ended by the close");
    expectHeldPipes(checks, printer, 0, "after the close");
    expectThreadsEnded(checks, libraryThreads);
    expectCleanJni(checks, context.jvm);
}

void nativeCloseDuringRead(Checks &checks, Context &context) {
    SimulatedPrinter printer(Transport::Native, supportedLowerCaseId(1));
    if (!plugged(checks, printer)) {
        return;
    }
    auto port = std::make_shared<JavaPort>(context.jvm, *context.library, kUntouched);
    if (!checks.expectEqual(port->initPipe(kGenericRead), 0, "usbInitPipe for reading")) {
        describeFailedOpen(*port, printer, GUID_NATIVE_USB_INTERFACE);
        return;
    }
    // The read blocks in ReadFile on the device until the close cancels it. Java asks for the reason on the reading
    // thread, after the JVM has run its own code there.
    struct Read {
        std::atomic<jint> result{0};
        std::atomic<jint> lastError{0};
        std::atomic<bool> done{false};
    };
    auto read = std::make_shared<Read>();
    const jint readHandle = port->readField();
    std::thread reader([read, port, readHandle] {
        Bytes array;
        read->result = port->read(readHandle, 8, 0, array);
        read->lastError = lastErrorAfterTheJvmRan(*port);
        read->done = true;
    });
    // Nothing shows from outside that the read has reached ReadFile; one that had not would fail with
    // ERROR_INVALID_HANDLE instead, and the report says so.
    checks.expect(!waitUntil([&] { return read->done.load(); }, 200), "the read waits for the printer");
    checks.expectEqual(port->closePipe(readHandle), 0, "usbClosePipe from another thread during the read");
    if (!checks.expect(waitUntil([&] { return read->done.load(); }, kBound), "the close ends the read")) {
        reader.detach();
        return;
    }
    reader.join();
    checks.expectEqual(read->result.load(), -1, "usbReadInputPipe ended by the close");
    checks.expectEqual(read->lastError.load(), ERROR_OPERATION_ABORTED,
                       "usbGetLastError on the reading thread, its last error cleared between");
    checks.expect(printer.readPipe().waitForLiveConnections(0, kBound), "PIPE00 is released");
    expectCleanJni(checks, context.jvm);
}

// A native printer plugged in beside an open printer-class link: the next open records the native transport while
// the link's reader still runs, and the link's overlapped read handle must still be read only by that reader.
void printerClassLinkBesideNative(Checks &checks, Context &context) {
    SimulatedPrinter printerClass(Transport::PrinterClass, supportedLowerCaseId(0));
    SimulatedPrinter native(Transport::Native, supportedLowerCaseId(1));
    if (!plugged(checks, printerClass)) {
        return;
    }
    const std::set<DWORD> threadsBefore = threadIds();
    auto port = std::make_shared<JavaPort>(context.jvm, *context.library, kUntouched);
    if (!openPrinterClass(checks, *port, printerClass)) {
        return;
    }
    const std::set<DWORD> libraryThreads = expectLibraryThreadsStarted(checks, threadsBefore);
    const jint writeHandle = port->writeField();
    const jint readHandle = port->readField();
    expectHeldPipes(checks, printerClass, 1, "while open");
    if (!plugged(checks, native)) {
        return;
    }
    checks.expectEqual(port->initPipe(kGenericWrite), 0, "usbInitPipe for writing detects the native printer");
    checks.expectEqual(port->writeField(), writeHandle, "the held write handle is handed out again");

    // A native read on the overlapped handle would wait for ever, so the read runs on a thread of its own; a native
    // request would answer with the pipe's ERROR_NOT_SUPPORTED.
    checks.expect(printerClass.readPipe().sendToClient(kPrinterAnswer), "the printer answers");
    struct Read {
        std::atomic<jint> result{0};
        Bytes array;
        std::atomic<bool> done{false};
    };
    auto read = std::make_shared<Read>();
    std::thread reader([read, port, readHandle] {
        read->result = port->read(readHandle, 16, 0x55, read->array);
        read->done = true;
    });
    if (!checks.expect(waitUntil([&] { return read->done.load(); }, kBound), "the read is served")) {
        reader.detach();
        return;
    }
    reader.join();
    checks.expectEqual(read->result.load(), static_cast<long long>(kPrinterAnswer.size()), "usbReadInputPipe");
    Bytes expected = kPrinterAnswer;
    expected.resize(16, 0x55);
    checks.expectEqual(read->array, expected, "the Java array after the read");
    checks.expectEqual(port->getCommTimeout(readHandle), 1, "usbGetCommTimeout");
    checks.expectEqual(port->setCommTimeout(readHandle, 1, 2, 3, 4, 5), 1, "usbSetCommTimeout");
    checks.expectEqual(port->purge(readHandle), 1, "usbPurgeRequest");
    expectReceiptArrives(checks, *port, writeHandle, printerClass);
    checks.expectEqual(native.writePipe().received(), Bytes(), "nothing at the native printer");

    checks.expectEqual(port->closePipe(readHandle), 0, "usbClosePipe of the read handle");
    expectHeldPipes(checks, printerClass, 0, "after the close");
    expectHeldPipes(checks, native, 0, "the native printer after the close");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");
    expectThreadsEnded(checks, libraryThreads);
    expectCleanJni(checks, context.jvm);
}

void unplugWhileOpen(Checks &checks, Context &context) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    if (!plugged(checks, printer)) {
        return;
    }
    const std::set<DWORD> threadsBefore = threadIds();
    JavaPort port(context.jvm, *context.library, kUntouched);
    if (!openPrinterClass(checks, port, printer)) {
        return;
    }
    const std::set<DWORD> libraryThreads = expectLibraryThreadsStarted(checks, threadsBefore);
    const jint writeHandle = port.writeField();
    const jint readHandle = port.readField();
    expectHeldPipes(checks, printer, 1, "while open");

    // Wine ends the pipes with ERROR_BROKEN_PIPE and ERROR_NO_DATA, after which the reader does not reconnect;
    // what matters here is that the library survives it and still closes cleanly.
    printer.unplug();
    const jint written = port.write(writeHandle, kReceipt);
    std::printf("    write after the unplug: %ld\n", static_cast<long>(written));
    checks.expect(written != 0, "usbWriteOutputPipe fails after the unplug");
    checks.expectEqual(port.closePipe(readHandle), 0, "usbClosePipe after the unplug");
    checks.expectEqual(port.closePipe(writeHandle), 0, "usbClosePipe of the other handle");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window goes");
    expectThreadsEnded(checks, libraryThreads);
    expectCleanJni(checks, context.jvm);
}

// The JVM calls JNI_OnUnload and then frees the library; a thread still running the library's code then would
// crash the process. This case ends the library's life, so it comes last.
void unloadWithLinkOpen(Checks &checks, Context &context, UsbPortLibrary &library) {
    if (!checks.expect(library.onUnload != nullptr, "the library exports JNI_OnUnload")) {
        return;
    }
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    if (!plugged(checks, printer)) {
        return;
    }
    const std::set<DWORD> threadsBefore = threadIds();
    JavaPort port(context.jvm, library, kUntouched);
    if (!openPrinterClass(checks, port, printer)) {
        return;
    }
    const std::set<DWORD> libraryThreads = expectLibraryThreadsStarted(checks, threadsBefore);
    library.onUnload(nullptr, nullptr);
    expectThreadsEnded(checks, libraryThreads);
    if (threadsAlive(libraryThreads) != 0) {
        return;
    }
    checks.expect(FreeLibrary(library.module), "FreeLibrary");
    library = UsbPortLibrary();
    checks.expect(GetModuleHandleA("VIRIVOREzu.dll") == nullptr, "the library is unloaded");
    checks.expect(waitUntil([] { return findPowerWindow() == nullptr; }, kBound), "the power window is gone");
}

}  // namespace

void runTransportSuite(TestRunner &runner, UsbPortLibrary &library) {
    Context context;
    context.library = &library;
    runner.run("no printer: -1 and 1167 kept for Java, fields untouched, Wine's error texts",
               [&](Checks &checks) { withoutPrinter(checks, context); });
    runner.run("printer-class printer: the road of one receipt, the power window, the close",
               [&](Checks &checks) { printerClassRoad(checks, context); });
    runner.run("native printer: the road of one receipt; time-out and purge pass Windows' code through",
               [&](Checks &checks) { nativeRoad(checks, context); });
    runner.run("both transports present: the native one is chosen",
               [&](Checks &checks) { nativeFirst(checks, context); });
    runner.run("printer-class printer: a close ends a waiting read",
               [&](Checks &checks) { closeDuringRead(checks, context); });
    runner.run("native printer: a close from another thread ends a blocked read; the reader is told 995",
               [&](Checks &checks) { nativeCloseDuringRead(checks, context); });
    runner.run("native printer plugged in beside a printer-class link: the link's handles still take its road",
               [&](Checks &checks) { printerClassLinkBesideNative(checks, context); });
    runner.run("printer-class printer unplugged while open: the close still releases everything",
               [&](Checks &checks) { unplugWhileOpen(checks, context); });
    runner.run("JNI_OnUnload with the link open ends the library's threads; FreeLibrary is then safe",
               [&](Checks &checks) { unloadWithLinkOpen(checks, context, library); });
}

}  // namespace winetest
