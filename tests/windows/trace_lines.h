// Reading the library's trace file the way a support engineer's tools do: the header with the process and its
// wall-clock start, then one event a line, "<ms since load>.<3 decimals> tid=<id> <role padded to 6> <event> ...".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace winetest {

struct TraceHeader {
    DWORD pid = 0;
    SYSTEMTIME started = {};
};

struct TraceEvent {
    unsigned long long microseconds = 0;
    DWORD tid = 0;
    std::string role;
    std::string event;
    // What follows the event's name, without the separating space; empty when the line ends with the name.
    std::string fields;
};

// The file's lines without their line ends; empty when it cannot be read.
std::vector<std::string> readTraceLines(const std::string &path);

// "# VIRIVOREzu trace, pid <pid>, file started <yyyy-mm-dd hh:mm:ss.mmm> local time; times are ms since the
// library loaded".
bool parseTraceHeader(const std::string &line, TraceHeader &header);

// An event line, its role one of java, reader and power; a failure's "err=<code> "<text>"" must end the line.
bool parseTraceEvent(const std::string &line, TraceEvent &event);

// The value of a `name=` field up to the next space; empty when the line has none.
std::string traceField(const TraceEvent &event, const std::string &name);

}  // namespace winetest
