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

sim::PrinterCondition conditionFrom(unsigned state) {
    sim::PrinterCondition condition;
    condition.coverOpen = (state & SIMBUS_COVER_OPEN) != 0;
    condition.paperNearEnd = (state & SIMBUS_PAPER_NEAR_END) != 0;
    condition.paperOut = (state & SIMBUS_PAPER_OUT) != 0;
    condition.offline = (state & SIMBUS_OFFLINE) != 0;
    condition.drawerHigh = (state & SIMBUS_DRAWER_HIGH) != 0;
    condition.feedButton = (state & SIMBUS_FEED_BUTTON) != 0;
    condition.autocutterError = (state & SIMBUS_AUTOCUTTER_ERROR) != 0;
    condition.unrecoverableError = (state & SIMBUS_UNRECOVERABLE_ERROR) != 0;
    condition.autoRecoverableError = (state & SIMBUS_AUTO_RECOVERABLE_ERROR) != 0;
    return condition;
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
    sim::setWriteGate(id,
                      [printer](const uint8_t *bytes, size_t count) { return printer->acceptsWrite(bytes, count); });
    std::lock_guard<std::mutex> guard(registryLock);
    registry[id] = printer;
    return id;
}

SIMBUS_API int simbus_set_printer_state(int id, unsigned state) {
    std::shared_ptr<sim::ReceiptPrinter> printer = findReceiptPrinter(id);
    if (!printer || (state & ~SIMBUS_ALL_STATES) != 0) return -1;
    printer->setCondition(conditionFrom(state));
    // A printer back online takes the writes that waited for it.
    sim::retryWrites(id);
    return 0;
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
