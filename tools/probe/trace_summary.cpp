#include "tools/probe/trace_summary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace probe {
namespace {

// Reconnects closer together than this belong to one storm; a storm is at least this many of them.
const double STORM_GAP_MS = 10000;
const int STORM_MIN_RECONNECTS = 3;

struct Event {
    double ms = 0;
    std::string role;
    std::string name;
    std::string line;
};

// "<ms> tid=<id> <role> <event> ...": false for comment lines and anything else.
bool parseEvent(const std::string &line, Event &event) {
    std::istringstream fields(line);
    std::string ms;
    std::string tid;
    if (!(fields >> ms >> tid >> event.role >> event.name)) return false;
    if (tid.compare(0, 4, "tid=") != 0) return false;
    char *end = nullptr;
    event.ms = std::strtod(ms.c_str(), &end);
    if (end == ms.c_str()) return false;
    event.line = line;
    return true;
}

bool has(const Event &event, const char *part) { return event.line.find(part) != std::string::npos; }

// The failure code and its text: `err=5 "Access is denied."`.
bool errorOf(const Event &event, std::string &code, std::string &text) {
    size_t at = event.line.find(" err=");
    if (at == std::string::npos) return false;
    size_t codeEnd = event.line.find(' ', at + 5);
    code = event.line.substr(at + 5, codeEnd == std::string::npos ? std::string::npos : codeEnd - at - 5);
    size_t quote = event.line.find('"', at);
    size_t closing = quote == std::string::npos ? std::string::npos : event.line.find('"', quote + 1);
    text = closing == std::string::npos ? std::string() : event.line.substr(quote + 1, closing - quote - 1);
    return true;
}

struct Summary {
    std::vector<std::string> fileStarts;
    unsigned long long dropped = 0;
    int pipeOpens = 0;
    int pipeOpenFailures = 0;
    int pipeCloses = 0;
    int javaOpens = 0;
    int javaOpenFailures = 0;
    int javaCloses = 0;
    int javaCloseFailures = 0;
    int closeWaitTimeouts = 0;
    std::vector<double> reconnects;
    std::vector<bool> reconnectConnected;
    std::vector<std::string> powerSpans;
    std::map<std::string, int> errorCounts;
    std::map<std::string, std::string> errorTexts;
};

void countComment(const std::string &line, Summary &summary) {
    if (line.find("# VIRIVOREzu trace") == 0) summary.fileStarts.push_back(line.substr(2));
    size_t dropped = line.find(" events dropped");
    if (line.compare(0, 2, "# ") == 0 && dropped != std::string::npos) {
        summary.dropped += std::strtoull(line.c_str() + 2, nullptr, 10);
    }
}

// A suspend or resume that has begun and not yet ended.
struct OpenSpan {
    bool open = false;
    Event begin;
};

void countEvent(const Event &event, Summary &summary, OpenSpan &suspend, OpenSpan &resume) {
    const std::string &name = event.name;
    if (name == "open") ++summary.pipeOpens;
    if (name == "open.failed") ++summary.pipeOpenFailures;
    if (name == "close") ++summary.pipeCloses;
    if (name == "usbInitPipe.result") (has(event, " err=") ? summary.javaOpenFailures : summary.javaOpens)++;
    if (name == "usbClosePipe.result") (has(event, " err=") ? summary.javaCloseFailures : summary.javaCloses)++;
    if (name.compare(0, 11, "close.wait_") == 0 && has(event, "result=timeout")) ++summary.closeWaitTimeouts;
    if (name == "reader.reconnect") {
        summary.reconnects.push_back(event.ms);
        summary.reconnectConnected.push_back(has(event, "outcome=connected"));
    }
    std::string code;
    std::string text;
    if (errorOf(event, code, text)) {
        ++summary.errorCounts[code];
        // The library's own code for a call refused while the system sleeps has no system text.
        summary.errorTexts[code] = code == "269354647" ? "(the library's: refused while suspended)" : text;
    }
    char span[160];
    if (name == "suspend.begin") suspend = {true, event};
    if (name == "resume.begin") resume = {true, event};
    if (name == "suspend.end" && suspend.open) {
        std::snprintf(span, sizeof(span), "suspend at %.3f ms took %.0f ms (%s)", suspend.begin.ms,
                      event.ms - suspend.begin.ms, has(suspend.begin, "connected=1") ? "link was up" : "link was down");
        summary.powerSpans.push_back(span);
        suspend.open = false;
    }
    if (name == "resume.end" && resume.open) {
        std::snprintf(span, sizeof(span), "resume at %.3f ms took %.0f ms (%s)", resume.begin.ms,
                      event.ms - resume.begin.ms, has(event, "reopened=1") ? "link reopened" : "link not reopened");
        summary.powerSpans.push_back(span);
        resume.open = false;
    }
}

void printStorms(const Summary &summary) {
    std::printf("Reconnects by the reader: %zu\n", summary.reconnects.size());
    size_t first = 0;
    int storms = 0;
    for (size_t i = 1; i <= summary.reconnects.size(); ++i) {
        bool ends = i == summary.reconnects.size() || summary.reconnects[i] - summary.reconnects[i - 1] > STORM_GAP_MS;
        if (!ends) continue;
        int count = static_cast<int>(i - first);
        if (count >= STORM_MIN_RECONNECTS) {
            ++storms;
            std::printf("  storm: %d reconnects from %.3f ms over %.0f ms, ended %s\n", count,
                        summary.reconnects[first], summary.reconnects[i - 1] - summary.reconnects[first],
                        summary.reconnectConnected[i - 1] ? "connected" : "still failing");
        }
        first = i;
    }
    if (storms == 0 && !summary.reconnects.empty()) {
        std::printf("  no storm (%d or more within %.0f s)\n", STORM_MIN_RECONNECTS, STORM_GAP_MS / 1000);
    }
}

void print(const Summary &summary) {
    for (const std::string &start : summary.fileStarts) std::printf("%s\n", start.c_str());
    if (summary.dropped > 0) std::printf("Events dropped (queue full): %llu\n", summary.dropped);
    std::printf("\nOpens and closes\n");
    std::printf("  Java opens (usbInitPipe):  %d succeeded, %d failed\n", summary.javaOpens, summary.javaOpenFailures);
    std::printf("  Java closes (usbClosePipe): %d succeeded, %d failed\n", summary.javaCloses,
                summary.javaCloseFailures);
    std::printf("  device opens: %d, failed: %d; pipe handles closed: %d\n", summary.pipeOpens,
                summary.pipeOpenFailures, summary.pipeCloses);
    if (summary.closeWaitTimeouts > 0) {
        std::printf("  waits for the reader that ran out: %d\n", summary.closeWaitTimeouts);
    }
    std::printf("\n");
    printStorms(summary);
    std::printf("\nSuspends and resumes: %zu\n", summary.powerSpans.size());
    for (const std::string &span : summary.powerSpans) std::printf("  %s\n", span.c_str());
    std::printf("\nErrors by code\n");
    if (summary.errorCounts.empty()) std::printf("  (none)\n");
    // The most frequent first.
    std::vector<std::pair<int, std::string>> byCount;
    for (const auto &entry : summary.errorCounts) byCount.push_back({entry.second, entry.first});
    std::sort(byCount.rbegin(), byCount.rend());
    for (const auto &entry : byCount) {
        const std::string &text = summary.errorTexts.at(entry.second);
        std::printf("  %6d x %s%s%s\n", entry.first, entry.second.c_str(), text.empty() ? "" : "  ", text.c_str());
    }
}

}  // namespace

bool summariseTrace(const std::string &path) {
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "viri_probe: cannot read %s\n", path.c_str());
        return false;
    }
    Summary summary;
    OpenSpan suspend;
    OpenSpan resume;
    int events = 0;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line[0] == '#') {
            countComment(line, summary);
            continue;
        }
        Event event;
        if (!parseEvent(line, event)) continue;
        ++events;
        countEvent(event, summary, suspend, resume);
    }
    std::printf("Trace %s: %d events\n", path.c_str(), events);
    print(summary);
    return events > 0;
}

}  // namespace probe
