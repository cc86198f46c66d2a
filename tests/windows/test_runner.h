// A small runner for the Windows test program: named cases, checks that record failures and let the case go on,
// and the closing line "N passed, N failed".
#pragma once

#include "pipe_server.h"

#include <functional>
#include <initializer_list>
#include <string>

namespace winetest {

class Checks {
public:
    // Each returns the outcome, so that a case can stop where going on makes no sense.
    bool expect(bool condition, const std::string &what);
    bool expectEqual(long long actual, long long expected, const std::string &what);
    bool expectEqual(const std::string &actual, const std::string &expected, const std::string &what);
    bool expectEqual(const Bytes &actual, const Bytes &expected, const std::string &what);

    bool passed() const { return failures_ == 0; }

private:
    int failures_ = 0;
};

class TestRunner {
public:
    void run(const std::string &name, const std::function<void(Checks &)> &body);
    // Prints the summary; the process exit code: 0 only when every case passed.
    int finish();

private:
    int passed_ = 0;
    int failed_ = 0;
};

// Bytes as the tests write them down.
Bytes bytes(std::initializer_list<unsigned char> values);
// A readable form of a text: control characters escaped, so that "\r\n" shows.
std::string quoted(const std::string &text);

}  // namespace winetest
