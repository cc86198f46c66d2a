// A native printer whose USB node this user may not open: ERROR_ACCESS_DENIED, and the probe points at the udev
// rule. The opener runs in a child process that drops from root to nobody, since root passes the check.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "linuxdev/native_access.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

const uid_t nobody = 65534;

struct Outcome {
    DWORD error = 0;
    std::string probeSays;
};

Outcome openAsNobody(const std::string &path) {
    int channel[2];
    if (pipe(channel) != 0) return Outcome{};
    pid_t child = fork();
    if (child == 0) {
        ::close(channel[0]);
        std::string message = "0\nsetuid failed";
        if (setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0 &&
            setresuid(nobody, nobody, nobody) == 0) {
            HANDLE file = openNative(path);
            DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
            std::string words = "not listed";
            for (const auto &candidate : linuxdev::listNativeCandidates(nativeBackend().context())) {
                if (candidate.interfacePath == path) words = linuxdev::nativeAvailability(candidate);
            }
            message = std::to_string(error) + "\n" + words;
        }
        ssize_t written = ::write(channel[1], message.data(), message.size());
        _exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    std::string message;
    char chunk[256];
    ssize_t got = 0;
    while ((got = ::read(channel[0], chunk, sizeof chunk)) > 0) message.append(chunk, static_cast<size_t>(got));
    ::close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome;
    size_t newline = message.find('\n');
    if (newline == std::string::npos) return outcome;
    outcome.error = static_cast<DWORD>(std::stoul(message.substr(0, newline)));
    outcome.probeSays = message.substr(newline + 1);
    return outcome;
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
        // The emulated tree is root's alone; another user must be able to list it, as the real sysfs, and reach
        // the node's handler, as the preload library does at every open.
        root_ = testbedRoot();
        struct stat status {};
        stat(root_.c_str(), &status);
        rootMode_ = status.st_mode & 07777;
        chmod(root_.c_str(), 0755);
        chmod((root_ + "/ioctl" + printer_.devnode()).c_str(), 0666);
        node_ = realTarget(root_ + printer_.devnode());
        stat(node_.c_str(), &status);
        nodeMode_ = status.st_mode & 07777;
    }

    void TearDown() override {
        if (!node_.empty()) chmod(node_.c_str(), nodeMode_);
        if (!root_.empty()) chmod(root_.c_str(), rootMode_);
        NativeTest::TearDown();
    }

    std::string root_;
    std::string node_;
    mode_t rootMode_ = 0700;
    mode_t nodeMode_ = 0620;
};

TEST_F(NativePermission, aNodeWithoutPermissionIsAccessDeniedAndTheProbeNamesTheRule) {
    ASSERT_EQ(0, chmod(node_.c_str(), 0));
    Outcome outcome = openAsNobody(path_);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), outcome.error) << outcome.probeSays;
    EXPECT_NE(std::string::npos, outcome.probeSays.find("no permission")) << outcome.probeSays;
    EXPECT_NE(std::string::npos, outcome.probeSays.find("60-virivorezu.rules")) << outcome.probeSays;
}

}  // namespace
}  // namespace linuxdev_test
