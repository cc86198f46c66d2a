#include "logind/logind_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char **environ;

namespace logind_test {
namespace {

const char manager[] = "org.freedesktop.login1.Manager";

// A system bus that lets the test own names and send anything: the mock owns org.freedesktop.login1.
const char busConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>\n"
    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";

// The environment with TMPDIR in the fixture's folder: dbusmock leaves its data folder behind, which then goes
// with the fixture's.
std::vector<std::string> environmentWithTmpdir(const std::string &dir) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "TMPDIR=", 7) != 0) entries.emplace_back(*entry);
    }
    entries.push_back("TMPDIR=" + dir);
    return entries;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
    std::vector<char *> result;
    for (std::string &text : strings) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int sleepDelayLocks(sd_bus_message *inhibitors) {
    int count = 0;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    uint32_t uid = 0, pid = 0;
    sd_bus_message_enter_container(inhibitors, 'a', "(ssssuu)");
    while (sd_bus_message_read(inhibitors, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
        if (std::strcmp(what, "sleep") == 0 && std::strcmp(mode, "delay") == 0) ++count;
    }
    return count;
}

void endProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

}  // namespace

LogindBus::LogindBus(bool withLogind) {
    char pattern[] = "/tmp/viri-logind.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    if (!startDaemon()) return;
    if (sd_bus_open_system(&control_) < 0) return;
    ready_ = !withLogind || (startLogind() && waitForLogind());
}

bool LogindBus::restart() {
    control_ = sd_bus_flush_close_unref(control_);
    endProcess(logind_);
    endProcess(daemon_);
    logind_ = daemon_ = -1;
    ready_ = startDaemon() && sd_bus_open_system(&control_) >= 0 && startLogind() && waitForLogind();
    return ready_;
}

LogindBus::~LogindBus() {
    sd_bus_flush_close_unref(control_);
    endProcess(logind_);
    endProcess(daemon_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool LogindBus::startDaemon() {
    std::string config = dir_ + "/bus.conf";
    std::ofstream(config) << busConfig;
    int addressPipe[2];
    if (pipe2(addressPipe, O_CLOEXEC) < 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The daemon prints its address on descriptor 3, its end of the pipe, and its complaints (it may not raise
    // its descriptor limit as a user) to a log.
    posix_spawn_file_actions_adddup2(&actions, addressPipe[1], 3);
    std::string log = dir_ + "/bus.log";
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {"dbus-daemon", "--nofork", "--config-file=" + config, "--print-address=3"};
    std::vector<char *> argv = pointers(args);
    int spawned = posix_spawnp(&daemon_, "dbus-daemon", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(addressPipe[1]);
    if (spawned != 0) {
        daemon_ = -1;
        close(addressPipe[0]);
        return false;
    }
    std::string address;
    char c = 0;
    while (read(addressPipe[0], &c, 1) == 1 && c != '\n') address += c;
    close(addressPipe[0]);
    if (address.empty()) return false;
    // Every connection of the process from now on, the listener's among them, goes to this bus.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    return true;
}

bool LogindBus::startLogind() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = dir_ + "/logind.log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Debian's python, which has dbusmock; another python3 earlier on PATH may not.
    std::vector<std::string> args = {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"};
    std::vector<char *> argv = pointers(args);
    std::vector<std::string> environment = environmentWithTmpdir(dir_);
    std::vector<char *> envp = pointers(environment);
    int spawned = posix_spawn(&logind_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) logind_ = -1;
    return spawned == 0;
}

bool LogindBus::waitForLogind() {
    return waitUntil([this] {
        sd_bus_message *reply = nullptr;
        int owned = 0;
        if (sd_bus_call_method(control_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", "org.freedesktop.login1") >= 0) {
            sd_bus_message_read(reply, "b", &owned);
        }
        sd_bus_message_unref(reply);
        return owned != 0;
    });
}

bool LogindBus::emitPrepareForSleep(bool start) {
    int result = sd_bus_call_method(control_, "org.freedesktop.login1", "/org/freedesktop/login1",
                                    "org.freedesktop.DBus.Mock", "EmitSignal", nullptr, nullptr, "sssav", manager,
                                    "PrepareForSleep", "b", 1, "b", start ? 1 : 0);
    return result >= 0;
}

int LogindBus::delayLocks() {
    // A connection of its own for each question, so that a printer model may ask from the writing thread while the
    // test's thread drives logind.
    sd_bus *bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;
    sd_bus_message *reply = nullptr;
    int count = -1;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", manager, "ListInhibitors", nullptr,
                           &reply, "") >= 0) {
        count = sleepDelayLocks(reply);
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return count;
}

bool LogindBus::waitForDelayLocks(int count) {
    return waitUntil([this, count] { return delayLocks() == count; });
}

}  // namespace logind_test
