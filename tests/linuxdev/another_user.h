// Opening a printer as another user would: in a child process that drops from root to nobody (root passes every
// permission and exclusivity check), with the emulated tree opened to others as the real sysfs is.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <functional>
#include <string>

namespace linuxdev_test {

struct OpenOutcome {
    DWORD error = 0;
    // What the probe says about the printer, as that user sees it.
    std::string probeSays;
};

// Runs `attempt` in a child process as nobody, or as this user when it is not root. Error 0 and "setuid failed"
// when the child could not drop to nobody.
OpenOutcome asAnotherUser(const std::function<OpenOutcome()> &attempt);

// While it lives, another user may list the emulated tree and reach the node's handler, as the preload library
// does at every open of the node; at its end, the tree and the node (`target`, the file behind it) have their
// modes back, whatever a test set meanwhile.
class TreeOpenToOthers {
public:
    TreeOpenToOthers(const std::string &devnode, std::string target);
    ~TreeOpenToOthers();
    TreeOpenToOthers(const TreeOpenToOthers &) = delete;
    TreeOpenToOthers &operator=(const TreeOpenToOthers &) = delete;

private:
    const std::string root_;
    const std::string target_;
    mode_t rootMode_ = 0700;
    mode_t nodeMode_ = 0620;
};

}  // namespace linuxdev_test
