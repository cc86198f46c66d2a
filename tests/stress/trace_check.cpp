#include "stress/trace_check.h"

#include <ctype.h>
#include <stdlib.h>

#include <fstream>

namespace {

// Reads a run of characters that satisfy `accept` at `at`; false when there is none.
template <class Accept>
bool skipRun(const std::string &line, size_t &at, Accept accept) {
    size_t start = at;
    while (at < line.size() && accept(static_cast<unsigned char>(line[at]))) ++at;
    return at > start;
}

bool skipText(const std::string &line, size_t &at, const std::string &text) {
    if (line.compare(at, text.size(), text) != 0) return false;
    at += text.size();
    return true;
}

bool isDigit(unsigned char c) { return isdigit(c) != 0; }
bool isSpace(unsigned char c) { return c == ' '; }
bool isEventChar(unsigned char c) { return isalpha(c) != 0 || c == '_' || c == '.'; }

// "<ms since load> tid=<id> <role> <event> ...": the milliseconds with three decimals, the role one of the three.
// Written out by hand: GCC 12 warns falsely inside <regex> under the sanitizers, and warnings are errors.
bool isEventLine(const std::string &line) {
    size_t at = 0;
    skipRun(line, at, isSpace);
    if (!skipRun(line, at, isDigit) || !skipText(line, at, ".")) return false;
    size_t decimals = at;
    if (!skipRun(line, at, isDigit) || at - decimals != 3) return false;
    if (!skipText(line, at, " tid=") || !skipRun(line, at, isDigit) || !skipText(line, at, " ")) return false;
    if (!skipText(line, at, "java") && !skipText(line, at, "reader") && !skipText(line, at, "power")) return false;
    if (!skipRun(line, at, isSpace) || !skipRun(line, at, isEventChar)) return false;
    return at == line.size() || line[at] == ' ';
}

}  // namespace

std::string findUnparsableTraceLine() {
    const char *destination = getenv("VIRIVOREZU_TRACE");
    if (destination == nullptr || std::string(destination) == "stderr" || *destination == '\0') return "";
    std::ifstream file(destination);
    if (!file) return std::string("the trace file ") + destination + " cannot be read";
    size_t events = 0;
    for (std::string line; std::getline(file, line);) {
        // A comment line of the writer's own.
        if (!line.empty() && line[0] == '#') continue;
        if (!isEventLine(line)) return line;
        ++events;
    }
    return events > 0 ? "" : "the trace holds no event";
}
