// A native printer whose USB node this user may not open: ERROR_ACCESS_DENIED, and the probe points at the udev
// rule. The opener runs in a child process that drops from root to nobody, since root passes the check.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "another_user.h"
#include "linuxdev/native_access.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

OpenOutcome openAsNobody(const std::string &path) {
    return asAnotherUser([&] {
        HANDLE file = openNative(path);
        DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : static_cast<DWORD>(ERROR_SUCCESS);
        OpenOutcome outcome{error, "not listed"};
        for (const auto &candidate : linuxdev::listNativeCandidates(nativeBackend().context())) {
            if (candidate.interfacePath == path) outcome.probeSays = linuxdev::nativeAvailability(candidate);
        }
        return outcome;
    });
}

std::string realTarget(const std::string &link) {
    char target[PATH_MAX] = {};
    return realpath(link.c_str(), target) != nullptr ? target : link;
}

class NativePermission : public NativeTest {
protected:
    void SetUp() override {
        NativeTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "needs root, to drop to another user";
        node_ = realTarget(testbedRoot() + printer_.devnode());
        openTree_ = std::make_unique<TreeOpenToOthers>(printer_.devnode(), node_);
    }

    void TearDown() override {
        openTree_.reset();
        NativeTest::TearDown();
    }

    std::string node_;
    std::unique_ptr<TreeOpenToOthers> openTree_;
};

TEST_F(NativePermission, aNodeWithoutPermissionIsAccessDeniedAndTheProbeNamesTheRule) {
    ASSERT_EQ(0, chmod(node_.c_str(), 0));
    OpenOutcome outcome = openAsNobody(path_);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), outcome.error) << outcome.probeSays;
    EXPECT_NE(std::string::npos, outcome.probeSays.find("no permission")) << outcome.probeSays;
    EXPECT_NE(std::string::npos, outcome.probeSays.find("60-virivorezu.rules")) << outcome.probeSays;
}

}  // namespace
}  // namespace linuxdev_test
