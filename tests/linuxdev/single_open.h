// usblp allows one open of a printer at a time: a second open(), from this process or another, fails with EBUSY
// until the first descriptor is closed. umockdev's node is a terminal, which any number may open, so the tests'
// link sends this process's own open() calls through here (ld's --wrap=open), where an open of a registered node
// while a descriptor of the process is on it fails as usblp's does.
#pragma once

#include <string>

namespace linuxdev_test {

// `target` is the real file behind the node, as /proc/self/fd names it.
void makeSingleOpen(const std::string &devnode, const std::string &target);
void forgetSingleOpen(const std::string &devnode);
// How many of this process's descriptors are open on that file.
int descriptorsOn(const std::string &target);

}  // namespace linuxdev_test
