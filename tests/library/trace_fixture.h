// Switching the library's trace on and off inside a test, and reading what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceTesting.h"

namespace trace_test {

// A path of the test's own under the temporary folder; an earlier run's files are gone.
inline std::string tracePath(const std::string &name) {
    const char *folder = getenv("TMPDIR");
    std::string path =
        std::string(folder != nullptr ? folder : "/tmp") + "/viri-trace-" + std::to_string(getpid()) + "-" + name;
    unlink(path.c_str());
    unlink((path + ".1").c_str());
    return path;
}

inline void switchTraceTo(const std::string &destination, bool showBytes = false) {
    setenv("VIRIVOREZU_TRACE", destination.c_str(), 1);
    if (showBytes) setenv("VIRIVOREZU_TRACE_BYTES", "1", 1);
    TraceReadSettingsAgainForTests();
}

inline void switchTraceOff() {
    unsetenv("VIRIVOREZU_TRACE");
    unsetenv("VIRIVOREZU_TRACE_BYTES");
    TraceReadSettingsAgainForTests();
}

inline std::vector<std::string> readLines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

// The lines that contain every one of the parts, in their order in the file.
inline std::vector<std::string> linesWith(const std::vector<std::string> &lines, const std::string &part,
                                          const std::string &other = "") {
    std::vector<std::string> found;
    for (const std::string &line : lines) {
        if (line.find(part) != std::string::npos && (other.empty() || line.find(other) != std::string::npos)) {
            found.push_back(line);
        }
    }
    return found;
}

// Each part occurs in a line after the line the part before it was found in.
inline ::testing::AssertionResult inOrder(const std::vector<std::string> &lines,
                                          const std::vector<std::string> &parts) {
    size_t next = 0;
    for (const std::string &part : parts) {
        while (next < lines.size() && lines[next].find(part) == std::string::npos) ++next;
        if (next == lines.size()) return ::testing::AssertionFailure() << "no \"" << part << "\" in its place";
        ++next;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace trace_test
