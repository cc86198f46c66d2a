#include "linuxdev/wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace linuxdev {

Wakeup::Wakeup() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wakeup::~Wakeup() {
    if (fd_ >= 0) ::close(fd_);
}

void Wakeup::wake() {
    uint64_t one = 1;
    // A full counter already means a wake-up is due.
    ssize_t written = ::write(fd_, &one, sizeof one);
    (void)written;
}

void Wakeup::drain() {
    uint64_t count = 0;
    ssize_t got = ::read(fd_, &count, sizeof count);
    (void)got;
}

}  // namespace linuxdev
