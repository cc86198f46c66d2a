// Virtual receipt printers on the simulated bus: a printer whose model is a ReceiptPrinter answering through the
// bus, and the receipts they have rendered.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/receipt_printer.h"
#include "sim/simbus.h"

namespace {

std::mutex registryLock;
// Guarded by registryLock. Entries of printers the bus has forgotten (after a reset) are dropped when seen.
std::map<int, std::shared_ptr<sim::ReceiptPrinter>> registry;

std::shared_ptr<sim::ReceiptPrinter> findReceiptPrinter(int id) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto found = registry.find(id);
    if (found == registry.end()) return nullptr;
    if (sim::interfacePath(id).empty()) {
        registry.erase(found);
        return nullptr;
    }
    return found->second;
}

void forgetRemovedPrinters() {
    std::lock_guard<std::mutex> guard(registryLock);
    for (auto it = registry.begin(); it != registry.end();) {
        it = sim::interfacePath(it->first).empty() ? registry.erase(it) : std::next(it);
    }
}

}  // namespace

extern "C" {

SIMBUS_API int simbus_attach_receipt_printer(int transport) {
    forgetRemovedPrinters();
    int id = simbus_attach_default(transport);
    if (id < 0) return -1;
    auto printer = std::make_shared<sim::ReceiptPrinter>();
    sim::setModel(id, [id, printer](const uint8_t *bytes, size_t count) {
        std::vector<uint8_t> answers = printer->receive(bytes, count);
        if (!answers.empty()) sim::send(id, answers.data(), answers.size());
    });
    std::lock_guard<std::mutex> guard(registryLock);
    registry[id] = printer;
    return id;
}

SIMBUS_API int simbus_receipt_text(int id, char *buf, int cap) {
    std::shared_ptr<sim::ReceiptPrinter> printer = findReceiptPrinter(id);
    if (!printer || cap < 0 || (buf == nullptr && cap > 0)) return -1;
    std::string text = printer->text();
    if (cap > 0) {
        size_t copied = std::min(text.size(), static_cast<size_t>(cap) - 1);
        std::memcpy(buf, text.data(), copied);
        buf[copied] = '\0';
    }
    return static_cast<int>(text.size());
}

}  // extern "C"
