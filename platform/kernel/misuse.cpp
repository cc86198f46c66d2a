#include "kernel/misuse.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

struct MisuseRecord {
    std::mutex lock;
    std::vector<std::string> reports;
};

// Never destroyed: detached threads may still report while the process exits.
MisuseRecord &record() {
    static auto *instance = new MisuseRecord;
    return *instance;
}

}  // namespace

std::string handleText(HANDLE handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

void reportMisuse(const char *operation, const std::string &what, HANDLE handle) {
    std::string report = std::string(operation) + " on handle " + handleText(handle) + ": " + what;
    MisuseRecord &r = record();
    std::lock_guard<std::mutex> guard(r.lock);
    r.reports.push_back(std::move(report));
}

std::vector<std::string> takeMisuseReports() {
    MisuseRecord &r = record();
    std::lock_guard<std::mutex> guard(r.lock);
    std::vector<std::string> taken;
    taken.swap(r.reports);
    return taken;
}

}  // namespace platform
