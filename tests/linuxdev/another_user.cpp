#include "another_user.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "emulated_printer.h"

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

}  // namespace

OpenOutcome asAnotherUser(const std::function<OpenOutcome()> &attempt) {
    int channel[2];
    if (pipe(channel) != 0) return OpenOutcome{};
    pid_t child = fork();
    if (child == 0) {
        ::close(channel[0]);
        OpenOutcome outcome{0, "setuid failed"};
        if (becomeAnotherUser()) outcome = attempt();
        std::string message = std::to_string(outcome.error) + "\n" + outcome.probeSays;
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
