#include "stress/trace_check.h"

#include <stdlib.h>

#include <fstream>
#include <regex>

std::string findUnparsableTraceLine() {
    const char *destination = getenv("VIRIVOREZU_TRACE");
    if (destination == nullptr || std::string(destination) == "stderr" || *destination == '\0') return "";
    // "<ms since load> tid=<id> <role> <event> ...", or a comment line of the writer's own.
    static const std::regex eventLine(R"(^ *[0-9]+\.[0-9]{3} tid=[0-9]+ (java|reader|power) +[a-zA-Z_.]+( .*)?$)");
    std::ifstream file(destination);
    if (!file) return std::string("the trace file ") + destination + " cannot be read";
    size_t events = 0;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line[0] == '#') continue;
        if (!std::regex_match(line, eventLine)) return line;
        ++events;
    }
    return events > 0 ? "" : "the trace holds no event";
}
