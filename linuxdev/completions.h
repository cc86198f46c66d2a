// The ends of requests decided under the backend's lock and reported after it is released: completing a request
// sets events and wakes waiters, which must not run under a driver's lock (the same rule as the simulator's).
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "files/io_request.h"

namespace linuxdev {

class Completions {
public:
    void add(std::shared_ptr<platform::IoRequest> request, DWORD error, DWORD bytes) {
        ends_.push_back(End{std::move(request), error, bytes});
    }
    // Without the backend's lock.
    void run() {
        for (End &end : ends_) end.request->complete(end.error, end.bytes);
        ends_.clear();
    }

private:
    struct End {
        std::shared_ptr<platform::IoRequest> request;
        DWORD error;
        DWORD bytes;
    };
    std::vector<End> ends_;
};

}  // namespace linuxdev
