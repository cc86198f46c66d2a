#include "trace_lines.h"

#include <cstdio>
#include <fstream>

namespace winetest {

namespace {

const size_t kRoleWidth = 6;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isEventChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.'; }

// Reads a run of characters that satisfy `accept` at `at`; false when there is none.
template <typename Accept>
bool skipRun(const std::string &line, size_t &at, Accept accept) {
    const size_t start = at;
    while (at < line.size() && accept(line[at])) ++at;
    return at > start;
}

bool skipText(const std::string &line, size_t &at, const std::string &text) {
    if (line.compare(at, text.size(), text) != 0) return false;
    at += text.size();
    return true;
}

bool readNumber(const std::string &line, size_t &at, unsigned long long &value) {
    const size_t start = at;
    if (!skipRun(line, at, isDigit)) return false;
    value = std::stoull(line.substr(start, at - start));
    return true;
}

bool readRole(const std::string &line, size_t &at, std::string &role) {
    for (const char *name : {"java", "reader", "power"}) {
        const std::string candidate = name;
        if (line.compare(at, candidate.size(), candidate) != 0) continue;
        role = candidate;
        at += candidate.size();
        // Padded to the role column's width, then one space before the event.
        return skipText(line, at, std::string(kRoleWidth - candidate.size() + 1, ' '));
    }
    return false;
}

// A failure's code and the system's text in quotes close the line.
bool failureEndsLine(const std::string &fields) {
    const size_t at = fields.find("err=");
    if (at == std::string::npos) return true;
    if (at > 0 && fields[at - 1] != ' ') return false;
    size_t next = at + 4;
    if (!skipRun(fields, next, isDigit) || !skipText(fields, next, " \"")) return false;
    const size_t closing = fields.find('"', next);
    return closing == fields.size() - 1;
}

}  // namespace

std::vector<std::string> readTraceLines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool parseTraceHeader(const std::string &line, TraceHeader &header) {
    unsigned long pid = 0;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    int end = 0;
    const int fields =
        std::sscanf(line.c_str(), "# VIRIVOREzu trace, pid %lu, file started %4u-%2u-%2u %2u:%2u:%2u.%3u%n", &pid,
                    &year, &month, &day, &hour, &minute, &second, &millisecond, &end);
    if (fields != 8 || line.substr(static_cast<size_t>(end)) != " local time; times are ms since the library loaded") {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    header.pid = static_cast<DWORD>(pid);
    header.started = SYSTEMTIME{};
    header.started.wYear = static_cast<WORD>(year);
    header.started.wMonth = static_cast<WORD>(month);
    header.started.wDay = static_cast<WORD>(day);
    header.started.wHour = static_cast<WORD>(hour);
    header.started.wMinute = static_cast<WORD>(minute);
    header.started.wSecond = static_cast<WORD>(second);
    header.started.wMilliseconds = static_cast<WORD>(millisecond);
    return true;
}

bool parseTraceEvent(const std::string &line, TraceEvent &event) {
    size_t at = 0;
    skipRun(line, at, [](char c) { return c == ' '; });
    unsigned long long milliseconds = 0;
    unsigned long long decimals = 0;
    if (!readNumber(line, at, milliseconds) || !skipText(line, at, ".")) return false;
    const size_t decimalsStart = at;
    if (!readNumber(line, at, decimals) || at - decimalsStart != 3) return false;
    unsigned long long tid = 0;
    if (!skipText(line, at, " tid=") || !readNumber(line, at, tid) || !skipText(line, at, " ")) return false;
    if (!readRole(line, at, event.role)) return false;
    const size_t nameStart = at;
    if (!skipRun(line, at, isEventChar)) return false;
    event.event = line.substr(nameStart, at - nameStart);
    if (at < line.size() && !skipText(line, at, " ")) return false;
    event.fields = line.substr(at);
    event.microseconds = milliseconds * 1000 + decimals;
    event.tid = static_cast<DWORD>(tid);
    return failureEndsLine(event.fields);
}

std::string traceField(const TraceEvent &event, const std::string &name) {
    const std::string key = name + "=";
    size_t at = 0;
    while ((at = event.fields.find(key, at)) != std::string::npos) {
        if (at == 0 || event.fields[at - 1] == ' ') {
            const size_t start = at + key.size();
            return event.fields.substr(start, event.fields.find(' ', start) - start);
        }
        at += key.size();
    }
    return "";
}

}  // namespace winetest
