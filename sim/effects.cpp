#include "sim/effects.h"

#include "sim/printer.h"

namespace sim {

void Effects::complete(std::shared_ptr<platform::IoRequest> request, DWORD error, DWORD bytes) {
    completions_.push_back(Completion{std::move(request), error, bytes});
}

void Effects::feedModel(std::shared_ptr<Printer> printer) { models_.push_back(std::move(printer)); }

void Effects::run() {
    for (Completion &completion : completions_) completion.request->complete(completion.error, completion.bytes);
    completions_.clear();
    for (auto &printer : models_) printer->feedModel();
    models_.clear();
}

}  // namespace sim
