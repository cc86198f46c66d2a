#include "suites.h"

#include "java_port.h"
#include "simulated_printer.h"
#include "trace_lines.h"
#include "wine_probes.h"

#include <cstdio>
#include <functional>
#include <map>

namespace winetest {

namespace {

const DWORD kBound = 10000;
const char kTraceVariable[] = "VIRIVOREZU_TRACE";
const char kTraceBytesVariable[] = "VIRIVOREZU_TRACE_BYTES";

const Bytes kReceipt = {'V', 'I', 'R', 'I', ' ', 'r', 'e', 'c', 'e', 'i', 'p', 't', '\n', 0x1D, 0x56, 0x00};
const Bytes kPrinterAnswer = {0x12, 0x00, 0x7F};

// A folder of the process's own under the user's temporary folder, as Windows names it; removed with what the
// library left in it.
class TraceFolder {
public:
    TraceFolder() {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof(temp), temp);
        folder_ = std::string(temp, length < sizeof(temp) ? length : 0) + "viri-trace-" +
                  std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        removeFiles();
    }
    ~TraceFolder() {
        removeFiles();
        RemoveDirectoryA(folder_.c_str());
    }
    TraceFolder(const TraceFolder &) = delete;
    TraceFolder &operator=(const TraceFolder &) = delete;

    std::string file() const { return folder_ + "\\viri.trace"; }
    std::string rotated() const { return file() + ".1"; }

private:
    void removeFiles() const {
        DeleteFileA(file().c_str());
        DeleteFileA(rotated().c_str());
    }

    std::string folder_;
};

// A variable in the process environment, where GetEnvironmentVariableA finds it, as a driver's start script
// leaves it for the JVM it starts; unset again however the case ends, so that no later load traces.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const std::string &value) : name_(name) {
        SetEnvironmentVariableA(name_, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableA(name_, nullptr); }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *name_;
};

ULONGLONG asNumber(const SYSTEMTIME &time) {
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

SYSTEMTIME localNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

std::string hexOf(const Bytes &values) {
    std::string text;
    char item[3];
    for (unsigned char value : values) {
        std::snprintf(item, sizeof(item), "%02X", value);
        text += item;
    }
    return text;
}

// JNI_OnUnload, then FreeLibrary once the library's threads are gone, as the JVM unloads a library.
bool unload(Checks &checks, UsbPortLibrary &library) {
    if (!checks.expect(library.onUnload != nullptr, "the library exports JNI_OnUnload")) return false;
    library.onUnload(nullptr, nullptr);
    const bool freed = checks.expect(FreeLibrary(library.module) != FALSE, "FreeLibrary");
    library = UsbPortLibrary();
    return freed && checks.expect(GetModuleHandleA("VIRIVOREzu.dll") == nullptr, "the library is unloaded");
}

// What Java was told during the road, to be found again in the trace.
struct Road {
    jint writeHandle = -1;
    jint readHandle = -1;
    DWORD javaThread = 0;
};

// Both pipes of the printer-class printer, one receipt, the printer's answer, and the close of both.
bool runRoad(Checks &checks, fakejni::FakeJvm &jvm, const UsbPortLibrary &library, SimulatedPrinter &printer,
             Road &road) {
    JavaPort port(jvm, library, kUntouched);
    road.javaThread = GetCurrentThreadId();
    if (!checks.expectEqual(port.initPipe(kGenericWrite), 1, "usbInitPipe for writing")) return false;
    if (!checks.expectEqual(port.initPipe(kGenericRead), 1, "usbInitPipe for reading")) return false;
    road.writeHandle = port.writeField();
    road.readHandle = port.readField();
    checks.expectEqual(port.write(road.writeHandle, kReceipt), 0, "usbWriteOutputPipe");
    checks.expect(printer.writePipe().waitForReceived(kReceipt.size(), kBound), "the receipt reaches the printer");
    checks.expect(printer.readPipe().sendToClient(kPrinterAnswer), "the printer answers");
    Bytes array;
    checks.expectEqual(port.read(road.readHandle, 16, 0, array), static_cast<long long>(kPrinterAnswer.size()),
                       "usbReadInputPipe");
    checks.expectEqual(port.closePipe(road.readHandle), 0, "usbClosePipe of the read handle");
    checks.expectEqual(port.closePipe(road.writeHandle), 0, "usbClosePipe of the write handle");
    checks.expect(printer.readPipe().waitForLiveConnections(0, kBound), "PIPE00 is released");
    checks.expect(printer.writePipe().waitForLiveConnections(0, kBound), "PIPE01 is released");
    expectCleanJni(checks, jvm);
    return checks.passed();
}

void expectHeader(Checks &checks, const std::vector<std::string> &lines, const SYSTEMTIME &before,
                  const SYSTEMTIME &after) {
    TraceHeader header;
    if (!checks.expect(!lines.empty() && parseTraceHeader(lines[0], header),
                       "the first line is the header: " + quoted(lines.empty() ? "" : lines[0]))) {
        return;
    }
    checks.expectEqual(header.pid, GetCurrentProcessId(), "the header's process id");
    const ULONGLONG started = asNumber(header.started);
    checks.expect(asNumber(before) <= started && started <= asNumber(after),
                  "the header's local time lies between the load and the unload: " + lines[0]);
}

// Every line after the header is an event; a comment line there would be a dropped-events count. The first line
// that does not parse is shown, and how many do not.
std::vector<TraceEvent> parseEvents(Checks &checks, const std::vector<std::string> &lines) {
    std::vector<TraceEvent> events;
    std::string firstBad;
    size_t bad = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        TraceEvent event;
        if (parseTraceEvent(lines[i], event)) {
            events.push_back(event);
            continue;
        }
        if (bad++ == 0) firstBad = "line " + std::to_string(i + 1) + " " + quoted(lines[i]);
    }
    checks.expect(bad == 0, "every event line parses; " + std::to_string(bad) + " do not, the first: " + firstBad);
    return events;
}

std::string described(const TraceEvent &event) {
    return event.fields.empty() ? event.event : event.event + " " + event.fields;
}

bool isExportLine(const TraceEvent &event) {
    for (const char *suffix : {".enter", ".result", ".bytes"}) {
        const std::string ending = suffix;
        if (event.event.size() > ending.size() &&
            event.event.compare(event.event.size() - ending.size(), ending.size(), ending) == 0) {
            return true;
        }
    }
    return false;
}

// The index of the first event at or after `from` that `matches`; the events' count when there is none.
size_t findEvent(const std::vector<TraceEvent> &events, size_t from,
                 const std::function<bool(const TraceEvent &)> &matches) {
    while (from < events.size() && !matches(events[from])) ++from;
    return from;
}

size_t findLine(const std::vector<TraceEvent> &events, size_t from, const std::string &line) {
    return findEvent(events, from, [&](const TraceEvent &event) { return described(event) == line; });
}

// Every call Java made, with what it passed and got, on Java's thread and in Java's order; nothing else is an
// export line. Bytes were asked for, so the counts carry the bytes in hex.
void expectExportLines(Checks &checks, const std::vector<TraceEvent> &events, const Road &road) {
    const std::string write = std::to_string(road.writeHandle);
    const std::string read = std::to_string(road.readHandle);
    const std::vector<std::string> expected = {
        "usbInitPipe.enter access=0x40000000",
        "usbInitPipe.result result=1",
        "usbInitPipe.enter access=0x80000000",
        "usbInitPipe.result result=1",
        "usbWriteOutputPipe.enter h=" + write,
        "usbWriteOutputPipe.bytes h=" + write + " count=16 bytes=" + hexOf(kReceipt),
        "usbWriteOutputPipe.result result=0",
        "usbReadInputPipe.enter h=" + read,
        "usbReadInputPipe.bytes h=" + read + " count=3 bytes=" + hexOf(kPrinterAnswer),
        "usbReadInputPipe.result result=3",
        "usbClosePipe.enter h=" + read,
        "usbClosePipe.result result=0",
        "usbClosePipe.enter h=" + write,
        "usbClosePipe.result result=0",
    };
    std::vector<std::string> seen;
    for (const TraceEvent &event : events) {
        if (!isExportLine(event)) continue;
        seen.push_back(described(event));
        checks.expect(event.tid == road.javaThread && event.role == "java",
                      "on Java's thread, as java: " + described(event));
    }
    checks.expectEqual(static_cast<long long>(seen.size()), static_cast<long long>(expected.size()), "export lines");
    for (size_t i = 0; i < seen.size() && i < expected.size(); ++i) {
        checks.expectEqual(seen[i], expected[i], "export line " + std::to_string(i + 1));
    }
}

// The end of a path the trace shows: the pipe's name.
bool pathEndsWith(const TraceEvent &event, const std::string &ending) {
    const std::string path = traceField(event, "path");
    return path.size() >= ending.size() && path.compare(path.size() - ending.size(), ending.size(), ending) == 0;
}

// The open's second word: "synchronous" or "overlapped".
std::string openKind(const TraceEvent &event) {
    const size_t start = event.fields.find(' ') + 1;
    return event.fields.substr(start, event.fields.find(' ', start) - start);
}

// The open that made `handle`, searched for between an export's enter and result lines: detection's probe opens
// come before it and may have had the same handle value.
void expectOpenedWithin(Checks &checks, const std::vector<TraceEvent> &events, size_t enter, size_t result,
                        const std::string &handle, const std::string &kind, const std::string &pipe) {
    size_t open = events.size();
    for (size_t i = enter; i < result && i < events.size(); ++i) {
        if (events[i].event == "open" && traceField(events[i], "h") == handle) open = i;
    }
    if (!checks.expect(open < events.size(), "an open of h=" + handle + " inside its usbInitPipe")) return;
    checks.expectEqual(openKind(events[open]), kind, "how h=" + handle + " was opened");
    checks.expect(pathEndsWith(events[open], pipe), "h=" + handle + " is " + pipe + ": " + described(events[open]));
}

// Java's two handles are the pipes' opens inside their usbInitPipe, and the first close, which tears the link
// down, closes both with no lease out. Detection's probe opens are closed without a line.
void expectPipeOpensAndCloses(Checks &checks, const std::vector<TraceEvent> &events, const Road &road) {
    const std::string write = std::to_string(road.writeHandle);
    const std::string read = std::to_string(road.readHandle);
    const size_t writeOpenEnter = findLine(events, 0, "usbInitPipe.enter access=0x40000000");
    const size_t writeOpenResult = findLine(events, writeOpenEnter, "usbInitPipe.result result=1");
    const size_t readOpenEnter = findLine(events, writeOpenResult, "usbInitPipe.enter access=0x80000000");
    const size_t readOpenResult = findLine(events, readOpenEnter, "usbInitPipe.result result=1");
    expectOpenedWithin(checks, events, writeOpenEnter, writeOpenResult, write, "synchronous", "\\PIPE01");
    expectOpenedWithin(checks, events, readOpenEnter, readOpenResult, read, "overlapped", "\\PIPE00");

    const size_t firstCloseEnter = findLine(events, readOpenResult, "usbClosePipe.enter h=" + read);
    const size_t firstCloseResult = findLine(events, firstCloseEnter, "usbClosePipe.result result=0");
    checks.expect(findLine(events, firstCloseEnter, "close.link h=" + read) < firstCloseResult,
                  "the first close tears the link down");
    for (const std::string &handle : {read, write}) {
        const std::string line = "close h=" + handle + " leases_out=0";
        const size_t close = findLine(events, 0, line);
        checks.expect(close > firstCloseEnter && close < firstCloseResult,
                      "\"" + line + "\" inside the first usbClosePipe");
        checks.expectEqual(findLine(events, close + 1, line) < events.size() ? 1 : 0, 0, "a second \"" + line + "\"");
    }
}

// The reader runs on the thread the link reported, between the link's creation and its teardown.
void expectReaderLines(Checks &checks, const std::vector<TraceEvent> &events) {
    const size_t machinery =
        findEvent(events, 0, [](const TraceEvent &event) { return event.event == "link.machinery"; });
    if (!checks.expect(machinery < events.size(), "a link.machinery line")) return;
    const std::string readerTid = traceField(events[machinery], "reader_tid");
    for (const char *name : {"reader.start", "reader.end"}) {
        const size_t at = findEvent(events, machinery, [&](const TraceEvent &event) { return event.event == name; });
        if (!checks.expect(at < events.size(), std::string("a ") + name + " line after link.machinery")) continue;
        checks.expect(std::to_string(events[at].tid) == readerTid && events[at].role == "reader",
                      "on the reader's thread " + readerTid + ", as reader: " + described(events[at]));
    }
}

// A healthy road fails nothing; the unload is the last event; each thread's times never go back.
void expectHealthyEnd(Checks &checks, const std::vector<TraceEvent> &events, const Road &road) {
    for (const TraceEvent &event : events) {
        checks.expect(traceField(event, "err").empty(), "no failure: " + described(event));
    }
    checks.expect(!events.empty() && events.back().event == "unload" && events.back().tid == road.javaThread,
                  "the last event is the unload, on the thread that called JNI_OnUnload");
    std::map<DWORD, unsigned long long> lastTime;
    for (const TraceEvent &event : events) {
        auto found = lastTime.find(event.tid);
        checks.expect(found == lastTime.end() || found->second <= event.microseconds,
                      "time goes forward on thread " + std::to_string(event.tid) + ": " + described(event));
        lastTime[event.tid] = event.microseconds;
    }
}

void printTrace(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) {
        std::printf("    | %s\n", line.c_str());
    }
}

void tracedRoad(Checks &checks, const std::string &libraryPath, const TraceFolder &folder) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    std::string error;
    if (!checks.expect(printer.plug(error), "plug: " + error)) return;

    const SYSTEMTIME before = localNow();
    Road road;
    {
        ScopedVariable trace(kTraceVariable, folder.file());
        ScopedVariable traceBytes(kTraceBytesVariable, "1");
        UsbPortLibrary library;
        if (!checks.expect(loadUsbPortLibrary(libraryPath, library, error), error)) return;
        fakejni::FakeJvm jvm;
        runRoad(checks, jvm, library, printer, road);
        if (!unload(checks, library)) return;
    }
    const SYSTEMTIME after = localNow();

    const std::vector<std::string> lines = readTraceLines(folder.file());
    if (!checks.expect(lines.size() > 1, "the trace file " + folder.file() + " holds events")) return;
    expectHeader(checks, lines, before, after);
    const std::vector<TraceEvent> events = parseEvents(checks, lines);
    expectExportLines(checks, events, road);
    expectPipeOpensAndCloses(checks, events, road);
    expectReaderLines(checks, events);
    expectHealthyEnd(checks, events, road);
    if (!checks.passed()) printTrace(lines);
}

// The variable is gone: a fresh load of the library writes no trace, neither to the previous file nor a new one.
void untracedLoad(Checks &checks, const std::string &libraryPath, const TraceFolder &folder) {
    const std::vector<std::string> before = readTraceLines(folder.file());
    checks.expect(GetEnvironmentVariableA(kTraceVariable, nullptr, 0) == 0, "VIRIVOREZU_TRACE is unset");
    UsbPortLibrary library;
    std::string error;
    if (!checks.expect(loadUsbPortLibrary(libraryPath, library, error), error)) return;
    {
        fakejni::FakeJvm jvm;
        JavaPort port(jvm, library, kUntouched);
        checks.expectEqual(port.initPipe(kGenericWrite), -1, "usbInitPipe with no printer");
    }
    if (!unload(checks, library)) return;
    checks.expect(readTraceLines(folder.file()) == before, "the earlier trace is left as it was");
    checks.expect(GetFileAttributesA(folder.rotated().c_str()) == INVALID_FILE_ATTRIBUTES,
                  "no fresh trace moved it aside");
}

}  // namespace

void runTraceSuite(TestRunner &runner, const std::string &libraryPath) {
    TraceFolder folder;
    runner.run("VIRIVOREZU_TRACE set before JNI_OnLoad: a printer-class road and JNI_OnUnload leave a whole trace",
               [&](Checks &checks) { tracedRoad(checks, libraryPath, folder); });
    runner.run("VIRIVOREZU_TRACE unset again: the next load of the library traces nothing",
               [&](Checks &checks) { untracedLoad(checks, libraryPath, folder); });
}

}  // namespace winetest
