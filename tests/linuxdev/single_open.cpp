#include "single_open.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <map>
#include <mutex>

extern "C" int __real_open(const char *path, int flags, ...);

namespace linuxdev_test {
namespace {

std::mutex &registryMutex() {
    static std::mutex mutex;
    return mutex;
}

// devnode to the file behind it.
std::map<std::string, std::string> &singleOpenNodes() {
    static std::map<std::string, std::string> nodes;
    return nodes;
}

}  // namespace

void makeSingleOpen(const std::string &devnode, const std::string &target) {
    std::lock_guard<std::mutex> guard(registryMutex());
    singleOpenNodes()[devnode] = target;
}

void forgetSingleOpen(const std::string &devnode) {
    std::lock_guard<std::mutex> guard(registryMutex());
    singleOpenNodes().erase(devnode);
}

int descriptorsOn(const std::string &target) {
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (dirent *entry = readdir(fds)) {
        char name[PATH_MAX] = {};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t length = readlink(link.c_str(), name, sizeof name - 1);
        if (length > 0 && target == std::string(name, static_cast<size_t>(length))) ++count;
    }
    closedir(fds);
    return count;
}

}  // namespace linuxdev_test

extern "C" int __wrap_open(const char *path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    using namespace linuxdev_test;
    // Held across the check and the open, so that of two opens racing only one finds the node free.
    std::lock_guard<std::mutex> guard(registryMutex());
    auto found = path != nullptr ? singleOpenNodes().find(path) : singleOpenNodes().end();
    if (found != singleOpenNodes().end() && descriptorsOn(found->second) > 0) {
        errno = EBUSY;
        return -1;
    }
    return __real_open(path, flags, mode);
}
