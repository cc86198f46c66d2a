#include "linuxdev/open_error.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linuxdev/usblp_backend.h"

namespace linuxdev {
namespace {

std::string modeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : "-";
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
    return text;
}

std::string ownerName(uid_t uid) {
    passwd *entry = getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string groupName(gid_t gid) {
    group *entry = getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

}  // namespace

DWORD errorForOpen(int error) {
    switch (error) {
    case EBUSY:
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ERROR_FILE_NOT_FOUND;
    default:
        return ERROR_GEN_FAILURE;
    }
}

std::string nodePermissions(const std::string &devnode) {
    struct stat status {};
    if (::stat(devnode.c_str(), &status) != 0) return std::string();
    return modeText(status.st_mode) + " " + ownerName(status.st_uid) + ":" + groupName(status.st_gid);
}

std::string nodeAvailability(const std::string &devnode) {
    // A second open of a node this process holds would fail with EBUSY and mean nothing.
    if (UsblpBackend::instance().holds(devnode)) return "open in this process";
    int fd = ::open(devnode.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return "free: nothing else holds it, and this user may open it";
    }
    int error = errno;
    if (error == EBUSY) return "held by another process (EBUSY): access denied";
    if (error == EACCES || error == EPERM) {
        return "no permission to open it (EACCES): access denied; see the udev rule in the README";
    }
    return std::string("cannot be opened: ") + std::strerror(error);
}

}  // namespace linuxdev
