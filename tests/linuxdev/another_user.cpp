#include "another_user.h"

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "emulated_printer.h"
#include "support/wait.h"

namespace linuxdev_test {
namespace {

const uid_t nobody = 65534;

bool becomeAnotherUser() {
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0 &&
           setresuid(nobody, nobody, nobody) == 0;
}

mode_t modeOf(const std::string &path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// One child's attempt: false when it gave no answer within the bound, and was killed.
bool attemptOnce(const std::function<OpenOutcome()> &attempt, std::string &message) {
    int channel[2];
    if (pipe(channel) != 0) return true;
    pid_t child = fork();
    if (child == 0) {
        ::close(channel[0]);
        OpenOutcome outcome{0, "setuid failed"};
        if (becomeAnotherUser()) outcome = attempt();
        std::string answer = std::to_string(outcome.error) + "\n" + outcome.probeSays;
        ssize_t written = ::write(channel[1], answer.data(), answer.size());
        _exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    auto giveUp = std::chrono::steady_clock::now() + test_support::GENEROUS;
    bool answered = true;
    char chunk[256];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
        pollfd readable{channel[0], POLLIN, 0};
        int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            answered = false;
            kill(child, SIGKILL);
            break;
        }
        ssize_t got = ::read(channel[0], chunk, sizeof chunk);
        if (got <= 0) break;
        message.append(chunk, static_cast<size_t>(got));
    }
    ::close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return answered;
}

}  // namespace

OpenOutcome asAnotherUser(const std::function<OpenOutcome()> &attempt) {
    // The child of a fork in this threaded process inherits every lock another thread held at that moment, and
    // nobody to release it: now and then umockdev's preload library's, which the child's first read of the tree then
    // waits for forever. A child that never answers is killed and the attempt made again, at another moment.
    std::string message;
    for (int tries = 0; tries < 3 && !attemptOnce(attempt, message); ++tries) message.clear();
    OpenOutcome outcome;
    size_t newline = message.find('\n');
    if (newline == std::string::npos) return outcome;
    outcome.error = static_cast<DWORD>(std::stoul(message.substr(0, newline)));
    outcome.probeSays = message.substr(newline + 1);
    return outcome;
}

TreeOpenToOthers::TreeOpenToOthers(const std::string &devnode, std::string target)
    : root_(testbedRoot()), target_(std::move(target)), rootMode_(modeOf(root_)), nodeMode_(modeOf(target_)) {
    // The emulated tree is root's alone; the real sysfs is open to all.
    chmod(root_.c_str(), 0755);
    chmod((root_ + "/ioctl" + devnode).c_str(), 0666);
}

TreeOpenToOthers::~TreeOpenToOthers() {
    chmod(target_.c_str(), nodeMode_);
    chmod(root_.c_str(), rootMode_);
}

}  // namespace linuxdev_test
