// The orderly phase: the printer's stream never outruns the ring buffer, nothing unplugs or suspends, at most a read
// fails now and then, and every byte must arrive, in order; so must every write reported done.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/faults.h"
#include "port/UsbComm.h"
#include "sim/bus.h"
#include "stress/printer_stream.h"
#include "stress/random_source.h"
#include "stress/read_result.h"
#include "stress/stress_round.h"
#include "stress/text_format.h"

namespace {

// At most this many bytes are sent and not yet read: half the ring buffer, so that it never overflows.
const uint64_t STREAM_WINDOW = 2048;
// A stream that makes no progress for this long has stalled (the timed read alone waits 180 ms when idle).
const auto STALL_BOUND = std::chrono::seconds(60);
const jint POWER_SUSPENDED = static_cast<jint>(ERROR_POWER_SUSPENDED_CODE);

struct StreamProgress {
    std::atomic<uint64_t> received{0};
    std::atomic<bool> stopped{false};
    std::mutex lock;
    std::condition_variable changed;

    void advance(uint64_t count) {
        std::lock_guard<std::mutex> guard(lock);
        received += count;
        changed.notify_all();
    }
    void stop() {
        std::lock_guard<std::mutex> guard(lock);
        stopped = true;
        changed.notify_all();
    }
    // Waits until fewer than STREAM_WINDOW bytes are unread; false when stopped or stalled.
    bool waitForRoom(uint64_t sent) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, STALL_BOUND, [&] { return stopped || sent - received < STREAM_WINDOW; }) &&
               !stopped;
    }
};

// Checks the bytes a read delivered against the stream; false at the first that is wrong.
bool checkStreamBytes(RoundContext &round, StreamByte byteAt, const std::vector<jbyte> &bytes, jint count,
                      uint64_t at) {
    for (jint i = 0; i < count; ++i) {
        uint8_t expected = byteAt(at + static_cast<uint64_t>(i));
        uint8_t got = static_cast<uint8_t>(bytes[static_cast<size_t>(i)]);
        if (got == expected) continue;
        round.failures.add(
            formatText("orderly phase: stream byte %llu is 0x%02X, expected 0x%02X (read of %d bytes "
                       "starting at byte %llu)",
                       static_cast<unsigned long long>(at + static_cast<uint64_t>(i)), got, expected, count,
                       static_cast<unsigned long long>(at)));
        return false;
    }
    return true;
}

// A Java reader that is slow now and then, so that a printer streaming without pause fills the ring buffer.
void pauseLikeASlowReader(RandomSource &random) {
    if (random.percent(3)) std::this_thread::sleep_for(std::chrono::microseconds(random.below(3000)));
}

void readStream(RoundContext &round, RandomSource random, StreamProgress &progress, uint64_t total, StreamByte byteAt) {
    ActivityBoard::Slot &slot = round.board.join("orderly reader");
    jint handle = round.port.hReadPort();
    auto lastProgress = std::chrono::steady_clock::now();
    while (progress.received < total && !progress.stopped) {
        std::vector<jbyte> before = readArrayPattern(random.between(1, 300));
        std::vector<jbyte> buffer = before;
        slot.doing("usbReadInputPipe");
        jint result = round.port.readInputPipe(handle, buffer);
        round.countOperation();
        std::string problem = checkReadResult(result, before, buffer);
        if (!problem.empty()) {
            round.failures.add("orderly phase: " + problem);
            break;
        }
        if (result <= 0) {
            // The native driver's read time-out ends a read with nothing; the timed read returns -1.
            if (std::chrono::steady_clock::now() - lastProgress < STALL_BOUND) continue;
            round.failures.add(formatText("orderly phase: the stream stalled at byte %llu of %llu (last read %d)",
                                          static_cast<unsigned long long>(progress.received.load()),
                                          static_cast<unsigned long long>(total), result));
            break;
        }
        if (!checkStreamBytes(round, byteAt, buffer, result, progress.received)) break;
        progress.advance(static_cast<uint64_t>(result));
        lastProgress = std::chrono::steady_clock::now();
        pauseLikeASlowReader(random);
    }
    progress.stop();
    slot.leave();
}

// A write may fail only while read errors make the reader replace the handles; one reported done must arrive.
void writeFrames(RoundContext &round, RandomSource random, int writer, bool mayFail) {
    ActivityBoard::Slot &slot = round.board.join(formatText("orderly writer %d", writer));
    int count = random.between(20, 150);
    for (int sequence = 0; sequence < count && !round.failures.any(); ++sequence) {
        std::vector<jbyte> frame = makeFrame(writer, sequence, random.between(0, 120));
        slot.doing("usbWriteOutputPipe");
        jint result = round.port.writeOutputPipe(round.port.hWritePort(), frame);
        round.countOperation();
        if (result == 0) {
            round.ledger.recordWritten(writer, sequence);
            continue;
        }
        if (!mayFail) {
            round.failures.add(
                formatText("orderly phase: write #%d of writer %d returned %d", sequence, writer, result));
        }
    }
    slot.leave();
}

// Questions that leave the stream alone: no purge on the native transport, which would drop the printer's bytes.
void askControlQuestions(RoundContext &round, RandomSource random, const std::atomic<bool> &done) {
    ActivityBoard::Slot &slot = round.board.join("orderly control");
    bool printerClass = round.transport == USB_TYPE_PRINTER_CLASS;
    jint handle = round.port.hReadPort();
    while (!done) {
        slot.doing("control request");
        jint constant = random.between(1, 50);
        jint set = round.port.setCommTimeout(handle, 0, 0, constant, 0, 0);
        jint got = round.port.getCommTimeout(handle);
        jint expectedSet = printerClass ? 1 : 0;
        jint expectedGot = printerClass ? 1 : constant;
        if (set != expectedSet || got != expectedGot) {
            round.failures.add(
                formatText("orderly phase: time-out set %d returned %d, get returned %d", constant, set, got));
        }
        if (printerClass && round.port.purgeRequest(handle) != 1) {
            round.failures.add("orderly phase: a purge on the printer-class transport did not return 1");
        }
        if (round.port.genericReadValue() != static_cast<jint>(GENERIC_READ) ||
            round.port.genericWriteValue() != static_cast<jint>(GENERIC_WRITE)) {
            round.failures.add("orderly phase: wrong generic access values");
        }
        const jint codes[] = {0, 2, 5, 6, 87, 995, 1167, POWER_SUSPENDED};
        jint code = codes[random.below(sizeof(codes) / sizeof(codes[0]))];
        if (round.port.errorString(code).empty()) {
            round.failures.add(formatText("orderly phase: empty error text for %d", code));
        }
        round.port.lastError();
        // One operation per round of questions: the loop spins, and would otherwise use up the operation budget.
        round.countOperation();
        std::this_thread::yield();
    }
    slot.leave();
}

// The printer's side: sends the stream in chunks, never more than the window ahead of the reader, and now and then
// makes a read fail with a handle error. The printer keeps what it has not sent, so even the reconnect that
// follows loses nothing. False when it could not send it all.
bool sendStream(RoundContext &round, RandomSource &random, StreamProgress &progress, uint64_t total, bool readErrors) {
    uint64_t sent = 0;
    std::vector<uint8_t> chunk;
    while (sent < total) {
        if (!progress.waitForRoom(sent)) {
            if (!progress.stopped) {
                round.failures.add(formatText("orderly phase: the reader took nothing for %lld s at byte %llu",
                                              static_cast<long long>(STALL_BOUND.count()),
                                              static_cast<unsigned long long>(progress.received.load())));
            }
            return false;
        }
        uint64_t room = STREAM_WINDOW - (sent - progress.received);
        uint64_t size = std::min<uint64_t>({random.below(256) + 1, total - sent, room});
        chunk.resize(size);
        for (uint64_t i = 0; i < size; ++i) chunk[i] = streamByte(sent + i);
        if (!sim::send(round.printer, chunk.data(), chunk.size())) {
            round.failures.add("orderly phase: the printer could not send");
            return false;
        }
        sent += size;
        round.countOperation();
        if (readErrors && random.percent(5)) {
            platform::armFault("ReadFile", 1, random.percent(50) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        }
    }
    return true;
}

// The printer streams without pause, as fast as the host reads, and the test only breaks reads now and then. The
// stream must arrive whole: the host took exactly its bytes, and the reader checked each in order.
bool streamWithoutPause(RoundContext &round, RandomSource &random, StreamProgress &progress, uint64_t total,
                        bool readErrors) {
    uint64_t takenBefore = sim::streamTaken(round.printer);
    sim::StreamSetup setup;
    setup.total = total;
    if (!sim::startStream(round.printer, setup)) {
        round.failures.add("orderly phase: the printer could not start its stream");
        return false;
    }
    std::unique_lock<std::mutex> guard(progress.lock);
    while (!progress.stopped) {
        progress.changed.wait_for(guard, std::chrono::milliseconds(5));
        round.countOperation();
        if (readErrors && random.percent(5)) {
            platform::armFault("ReadFile", 1, random.percent(50) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        }
    }
    guard.unlock();
    sim::stopStream(round.printer);
    uint64_t taken = sim::streamTaken(round.printer) - takenBefore;
    if (progress.received == total && taken != total) {
        round.failures.add(
            formatText("orderly phase: the reader got the whole stream of %llu bytes, but the host "
                       "took %llu from the printer",
                       static_cast<unsigned long long>(total), static_cast<unsigned long long>(taken)));
    }
    return true;
}

}  // namespace

void runOrderlyPhase(RoundContext &round, uint64_t phaseSeed) {
    RandomSource random(phaseSeed, 0);
    bool withoutPause = random.percent(40);
    uint64_t total = static_cast<uint64_t>(withoutPause ? random.between(2000, 60000) : random.between(2000, 20000));
    bool readErrors = random.percent(40);
    StreamProgress progress;
    std::atomic<bool> done{false};

    StreamByte byteAt = withoutPause ? counterByte : streamByte;
    std::thread reader(readStream, std::ref(round), RandomSource(phaseSeed, 1), std::ref(progress), total, byteAt);
    std::vector<std::thread> writers;
    for (int writer = 1; writer <= 2; ++writer) {
        writers.emplace_back(writeFrames, std::ref(round), RandomSource(phaseSeed, 1 + writer), writer, readErrors);
    }
    std::thread control(askControlQuestions, std::ref(round), RandomSource(phaseSeed, 9), std::cref(done));

    bool sent = withoutPause ? streamWithoutPause(round, random, progress, total, readErrors)
                             : sendStream(round, random, progress, total, readErrors);
    if (!sent) progress.stop();
    reader.join();
    for (std::thread &writer : writers) writer.join();
    done = true;
    control.join();
    progress.stop();
    platform::clearFaults();

    round.counters.streamBytes += progress.received;
    ++round.counters.orderlyPhases;
}
