// What an idle link costs: the kernel's count of the times each thread gave up the processor, voluntarily or not.
// A thread asleep in a wait adds nothing.
#pragma once

#include <set>
#include <string>

namespace linuxdev_test {

// The ids of this process's threads now.
std::set<std::string> taskIds();
// The thread's name, as /proc shows it.
std::string taskName(const std::string &id);
// A field of the thread's /proc status ("SigBlk", "voluntary_ctxt_switches"): what follows its colon, or "".
std::string taskStatusField(const std::string &id, const std::string &field);
// The switches the threads add over three seconds, counted once a quarter second has passed without any (the open's
// own work may still be settling); -1 when they never go quiet within ten seconds, as threads that wake periodically.
long wakeUpsOverThreeSeconds(const std::set<std::string> &threads);
// What a loaded machine or a sanitizer may still add to idle threads: work of the open that was waiting for a
// processor while the threads looked quiet. A thread that polls twice a second or more often adds more than this
// over the three seconds.
const long STRAY_WAKE_UPS = 2;

}  // namespace linuxdev_test
