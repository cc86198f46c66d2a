// Work that the simulated drivers decide on under the bus's lock and carry out after releasing it: completing
// requests (which sets events and wakes callers) and handing written bytes to printer models (which may call
// back into the bus).
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "files/io_request.h"

namespace sim {

class Printer;

class Effects {
public:
    void complete(std::shared_ptr<platform::IoRequest> request, DWORD error, DWORD bytes);
    void feedModel(std::shared_ptr<Printer> printer);
    // Without the bus's lock held.
    void run();

private:
    struct Completion {
        std::shared_ptr<platform::IoRequest> request;
        DWORD error;
        DWORD bytes;
    };
    std::vector<Completion> completions_;
    std::vector<std::shared_ptr<Printer>> models_;
};

}  // namespace sim
