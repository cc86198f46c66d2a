// A printer this process may not open: held by another process (usblp's single open gives EBUSY) or a node without
// permission (EACCES). Both are ERROR_ACCESS_DENIED, as Windows reports a printer in use; the probe tells which.
// The opener runs in a child process; as root it drops to nobody first, since root passes both checks.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "another_user.h"
#include "linuxdev/open_error.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

// CreateFileA's error and the probe's words for the node, as another process sees them.
OpenOutcome openFromAnotherProcess(const std::string &path, const std::string &devnode) {
    return asAnotherUser([&] {
        HANDLE file = openPipe(path, GENERIC_READ);
        DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        return OpenOutcome{error, linuxdev::nodeAvailability(devnode)};
    });
}

// Another process that holds the node as usblp's single open does, made by the terminal's exclusive mode: a
// further open by anyone but root fails with EBUSY. It runs without the preload library, whose ioctl handling
// would answer the mode change itself.
class ExclusiveHolder {
public:
    explicit ExclusiveHolder(const std::string &node) {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
        std::string script =
            "import fcntl, os, sys, termios\n"
            "fd = os.open('" +
            node +
            "', os.O_RDWR | os.O_NOCTTY)\n"
            "fcntl.ioctl(fd, termios.TIOCEXCL)\n"
            "print('held', flush=True)\n"
            "sys.stdin.read()\n";
        child_ = fork();
        if (child_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            unsetenv("LD_PRELOAD");
            execl("/usr/bin/python3", "python3", "-c", script.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        // The whole line: the holder may write it in pieces, and must not find the pipe closed half way.
        std::string answer;
        char c = 0;
        while (answer.size() < 8 && ::read(fromChild[0], &c, 1) == 1 && c != '\n') answer += c;
        holds_ = answer == "held";
        ::close(fromChild[0]);
    }
    ~ExclusiveHolder() { release(); }

    bool holds() const { return holds_; }
    void release() {
        if (child_ <= 0) return;
        ::close(input_);
        int status = 0;
        waitpid(child_, &status, 0);
        child_ = -1;
    }

private:
    pid_t child_ = -1;
    int input_ = -1;
    bool holds_ = false;
};

class Access : public UsblpTest {
protected:
    void SetUp() override {
        UsblpTest::SetUp();
        openTree_ = std::make_unique<TreeOpenToOthers>(printer_.devnode(), printer_.nodeTarget());
    }

    void TearDown() override {
        openTree_.reset();
        UsblpTest::TearDown();
    }

    std::unique_ptr<TreeOpenToOthers> openTree_;
};

TEST_F(Access, aNodeWithoutPermissionIsAccessDeniedAndTheProbeSaysPermission) {
    ASSERT_EQ(0, chmod(printer_.nodeTarget().c_str(), 0));
    OpenOutcome outcome = openFromAnotherProcess(path_, printer_.devnode());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), outcome.error);
    EXPECT_NE(std::string::npos, outcome.probeSays.find("no permission")) << outcome.probeSays;
    EXPECT_NE(std::string::npos, linuxdev::nodePermissions(printer_.devnode()).find("c---------"))
        << linuxdev::nodePermissions(printer_.devnode());
}

TEST_F(Access, aPrinterHeldByAnotherProcessIsAccessDeniedAndTheProbeSaysHeld) {
    ASSERT_EQ(0, chmod(printer_.nodeTarget().c_str(), 0666));
    ExclusiveHolder holder(printer_.nodeTarget());
    ASSERT_TRUE(holder.holds());
    OpenOutcome outcome = openFromAnotherProcess(path_, printer_.devnode());
    holder.release();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), outcome.error);
    EXPECT_NE(std::string::npos, outcome.probeSays.find("held by another process")) << outcome.probeSays;
    EXPECT_EQ(0u, linuxdev::nodeAvailability(printer_.devnode()).find("free")) << "once the holder let go";
}

}  // namespace
}  // namespace linuxdev_test
