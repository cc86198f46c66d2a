#include "test_runner.h"

#include <cstdio>

namespace winetest {

namespace {

std::string hex(const Bytes &values) {
    std::string text = "[";
    char item[4];
    for (unsigned char value : values) {
        std::snprintf(item, sizeof(item), "%02X", value);
        text += (text.size() > 1 ? " " : "") + std::string(item);
    }
    return text + "]";
}

bool report(bool ok, const std::string &what, int &failures) {
    if (!ok) {
        ++failures;
        std::printf("    FAILED: %s\n", what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

}  // namespace

Bytes bytes(std::initializer_list<unsigned char> values) { return Bytes(values); }

std::string quoted(const std::string &text) {
    std::string result = "\"";
    for (unsigned char c : text) {
        if (c == '\r') {
            result += "\\r";
        } else if (c == '\n') {
            result += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            result += escaped;
        } else {
            result += static_cast<char>(c);
        }
    }
    return result + "\"";
}

bool Checks::expect(bool condition, const std::string &what) { return report(condition, what, failures_); }

bool Checks::expectEqual(long long actual, long long expected, const std::string &what) {
    return report(actual == expected,
                  what + ": got " + std::to_string(actual) + ", expected " + std::to_string(expected), failures_);
}

bool Checks::expectEqual(const std::string &actual, const std::string &expected, const std::string &what) {
    return report(actual == expected, what + ": got " + quoted(actual) + ", expected " + quoted(expected), failures_);
}

bool Checks::expectEqual(const Bytes &actual, const Bytes &expected, const std::string &what) {
    return report(actual == expected, what + ": got " + hex(actual) + ", expected " + hex(expected), failures_);
}

void TestRunner::run(const std::string &name, const std::function<void(Checks &)> &body) {
    std::printf("[ RUN  ] %s\n", name.c_str());
    std::fflush(stdout);
    const DWORD started = GetTickCount();
    Checks checks;
    body(checks);
    const unsigned long elapsed = GetTickCount() - started;
    if (checks.passed()) {
        ++passed_;
        std::printf("[  OK  ] %s (%lu ms)\n", name.c_str(), elapsed);
    } else {
        ++failed_;
        std::printf("[FAILED] %s (%lu ms)\n", name.c_str(), elapsed);
    }
    std::fflush(stdout);
}

int TestRunner::finish() {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
}

}  // namespace winetest
