#include "thread_wakeups.h"

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace linuxdev_test {
namespace {

std::string taskFile(const std::string &id, const char *name) {
    std::ifstream file("/proc/self/task/" + id + "/" + name);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

long switchesOf(const std::set<std::string> &threads) {
    long total = 0;
    for (const std::string &id : threads) {
        for (const char *field : {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"}) {
            std::string value = taskStatusField(id, field);
            if (!value.empty()) total += std::stol(value);
        }
    }
    return total;
}

}  // namespace

std::set<std::string> taskIds() {
    std::set<std::string> ids;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    }
    closedir(tasks);
    return ids;
}

std::string taskName(const std::string &id) { return taskFile(id, "comm"); }

std::string taskStatusField(const std::string &id, const std::string &field) {
    std::istringstream status(taskFile(id, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return line.substr(field.size() + 1);
    }
    return "";
}

long wakeUpsOverThreeSeconds(const std::set<std::string> &threads) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    long settled = switchesOf(threads);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        long now = switchesOf(threads);
        if (now == settled) break;
        if (std::chrono::steady_clock::now() > giveUp) return -1;
        settled = now;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return switchesOf(threads) - settled;
}

}  // namespace linuxdev_test
