// The library's unload with no native printer open leaves no thread behind: not the events thread, and not libusb's
// own hot-plug thread, which would run on in a libusb the unload may unmap. libusb starts again at the next use.
#include <dirent.h>

#include <fstream>

#include "native_fixture.h"

namespace linuxdev_test {
namespace {

int libusbThreads() {
    int count = 0;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("libusb", 0) == 0) ++count;
    }
    closedir(tasks);
    return count;
}

using NativeUnload = NativeTest;

TEST_F(NativeUnload, leavesNoThreadOfLibusbAndTheNextUseStartsItAgain) {
    HANDLE file = openNative(path_);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    ASSERT_GE(libusbThreads(), 1);

    nativeBackend().shutDownAtUnload();
    EXPECT_FALSE(nativeBackend().eventsThreadRunning());
    EXPECT_TRUE(waitUntil([] { return libusbThreads() == 0; })) << "libusb's hot-plug thread outlived the unload";

    ASSERT_NE(nullptr, nativeBackend().context());
    EXPECT_TRUE(waitUntil([this] { return nativeListed(path_); }));
    file = openNative(path_);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

}  // namespace
}  // namespace linuxdev_test
