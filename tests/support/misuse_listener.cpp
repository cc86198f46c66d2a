// Fails every test after which the platform layer holds misuse reports: calls that Windows would punish silently.
// A test that provokes misuse on purpose takes the reports itself before it ends.
#include <gtest/gtest.h>

#include "kernel/misuse.h"

namespace {

class MisuseListener : public ::testing::EmptyTestEventListener {
    // Named in the message as well: the brief printer has already shown the test's result when this runs.
    void OnTestEnd(const ::testing::TestInfo &test) override {
        for (const std::string &report : platform::takeMisuseReports()) {
            ADD_FAILURE() << "misuse in " << test.test_suite_name() << "." << test.name() << ": " << report;
        }
    }
};

// Registered before main runs, so that every binary that links this file checks every test.
const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new MisuseListener);
    return true;
}();

}  // namespace
