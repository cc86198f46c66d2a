// The chaotic phase: Java threads call every export at random, on handles current, stale and made up, while a
// controller pulls the cable, breaks reads and suspends and resumes the system. Only what must hold whatever
// happens is checked here: no crash or sanitizer report, reads that keep to their array, writes that arrive whole
// exactly when they were reported done; the close that follows checks that nothing leaked.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "kernel/faults.h"
#include "port/UsbComm.h"
#include "sim/bus.h"
#include "sim/simbus.h"
#include "stress/power_storm.h"
#include "stress/random_source.h"
#include "stress/read_result.h"
#include "stress/stress_round.h"
#include "stress/text_format.h"
#include "user32/broadcast.h"

namespace {

const jint POWER_SUSPENDED = static_cast<jint>(ERROR_POWER_SUSPENDED_CODE);
const jint MAX_DWORD = -1;

struct Worker {
    Worker(RoundContext &round, RandomSource random, JavaUsbPort &port, ActivityBoard::Slot &slot, int writer)
        : round(round), random(random), port(port), slot(slot), writer(writer) {}

    RoundContext &round;
    RandomSource random;
    JavaUsbPort &port;
    ActivityBoard::Slot &slot;
    const int writer;
    int sequence = 0;
    // Every handle value this thread was given: closed or replaced ones come back as stale values.
    std::vector<jint> seen;
};

jint pickHandle(Worker &worker, jint current) {
    int pick = static_cast<int>(worker.random.below(20));
    if (pick < 14 || (pick < 18 && worker.seen.empty())) return current;
    if (pick < 18) return worker.seen[worker.random.below(worker.seen.size())];
    return pick == 18 ? -1 : 0;
}

void writeFrame(Worker &worker) {
    std::vector<jbyte> frame = makeFrame(worker.writer, worker.sequence, worker.random.between(0, 120));
    worker.slot.doing("usbWriteOutputPipe");
    jint result = worker.port.writeOutputPipe(pickHandle(worker, worker.port.hWritePort()), frame);
    if (result == 0) worker.round.ledger.recordWritten(worker.writer, worker.sequence);
    ++worker.sequence;
}

void readSome(Worker &worker) {
    std::vector<jbyte> before = readArrayPattern(worker.random.between(0, 256));
    std::vector<jbyte> buffer = before;
    worker.slot.doing("usbReadInputPipe");
    jint result = worker.port.readInputPipe(pickHandle(worker, worker.port.hReadPort()), buffer);
    std::string problem = checkReadResult(result, before, buffer);
    if (!problem.empty()) worker.round.failures.add("chaotic phase: " + problem);
}

void openPipe(Worker &worker, DWORD access) {
    worker.slot.doing(access == GENERIC_READ ? "usbInitPipe(read)" : "usbInitPipe(write)");
    jint result = worker.port.initPipe(static_cast<jint>(access));
    // With the neighbour plugged in, detection may find either printer.
    bool neighbourThere = worker.round.neighbour >= 0 || worker.round.neighbourArriving;
    bool eitherTransport = neighbourThere && (result == 0 || result == 1);
    if (result != -1 && result != worker.round.transport && !eitherTransport) {
        worker.round.failures.add(
            formatText("chaotic phase: an open returned %d on transport %d", result, worker.round.transport));
    }
    if (result == -1) return;
    jint handle = access == GENERIC_READ ? worker.port.hReadPort() : worker.port.hWritePort();
    worker.seen.push_back(handle);
    if (access == GENERIC_READ && result == USB_TYPE_NATIVE) worker.round.keepNativeReadHandle(handle);
}

void closePipe(Worker &worker) {
    jint current = worker.random.percent(50) ? worker.port.hReadPort() : worker.port.hWritePort();
    worker.slot.doing("usbClosePipe");
    worker.port.closePipe(pickHandle(worker, current));
}

// Native read time-outs that keep every read short: a read that could wait for ever would hold up the phase.
void setTimeouts(Worker &worker, jint handle) {
    RandomSource &random = worker.random;
    jint interval = random.percent(25) ? MAX_DWORD : random.between(0, 50);
    jint multiplier = interval == MAX_DWORD && random.percent(50) ? MAX_DWORD : random.between(0, 5);
    jint constant = random.between(1, 3000);
    jint writeMultiplier = random.percent(10) ? -2 : random.between(0, 5);
    jint writeConstant = random.percent(10) ? -2 : random.between(0, 3000);
    worker.port.setCommTimeout(handle, interval, multiplier, constant, writeMultiplier, writeConstant);
}

void control(Worker &worker) {
    jint handle = pickHandle(worker, worker.port.hReadPort());
    worker.slot.doing("control request");
    switch (worker.random.below(6)) {
    case 0:
        worker.port.getCommTimeout(handle);
        break;
    case 1:
        setTimeouts(worker, handle);
        break;
    case 2:
        worker.port.purgeRequest(handle);
        break;
    case 3:
        worker.port.lastError();
        break;
    case 4: {
        const jint codes[] = {0, 5, 6, 1167, POWER_SUSPENDED, 0x7FFFFFFF, -1};
        worker.port.errorString(codes[worker.random.below(sizeof(codes) / sizeof(codes[0]))]);
        break;
    }
    default:
        if (worker.port.genericReadValue() != static_cast<jint>(GENERIC_READ)) {
            worker.round.failures.add("chaotic phase: wrong generic read value");
        }
        break;
    }
}

void runWorker(Worker &worker, int operations) {
    for (int i = 0; i < operations; ++i) {
        int pick = static_cast<int>(worker.random.below(100));
        if (pick < 30) {
            writeFrame(worker);
        } else if (pick < 52) {
            readSome(worker);
        } else if (pick < 67) {
            control(worker);
        } else if (pick < 77) {
            openPipe(worker, GENERIC_READ);
        } else if (pick < 87) {
            openPipe(worker, GENERIC_WRITE);
        } else {
            closePipe(worker);
        }
        worker.round.countOperation();
    }
    worker.slot.leave();
}

void sendNoise(RoundContext &round, RandomSource &random) {
    std::vector<uint8_t> noise(random.below(200) + 1);
    for (uint8_t &byte : noise) byte = static_cast<uint8_t>(random.draw());
    sim::send(round.printer, noise.data(), noise.size());
}

// The next reads fail: mostly with the two handle errors after which the reader reconnects, now and then with one
// it just retries. The bytes sent after make the reader thread issue its next read.
void breakReads(RoundContext &round, RandomSource &random) {
    const DWORD errors[] = {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
                            ERROR_GEN_FAILURE};
    DWORD error = errors[random.below(sizeof(errors) / sizeof(errors[0]))];
    platform::armFault("ReadFile", random.between(1, 2), error);
    sendNoise(round, random);
}

void broadcastPower(ActivityBoard::Slot &slot, WPARAM event) {
    slot.doing(event == PBT_APMSUSPEND ? "suspend broadcast" : "resume broadcast");
    platform::broadcastMessage(WM_POWERBROADCAST, event, 0);
}

// A printer of the other transport appears beside the round's own, or is unplugged and plugged in again. A native
// printer beside a printer-class link flips the transport every open detects while the link is up.
void toggleNeighbour(RoundContext &round) {
    int neighbour = round.neighbour;
    if (neighbour < 0) {
        round.neighbourArriving = true;
        neighbour = simbus_attach_default(1 - round.transport);
        if (neighbour < 0 || !applyDeviceHabits(neighbour, round.habits)) {
            round.failures.add("chaotic phase: the neighbour printer could not be attached");
            return;
        }
        round.neighbour = neighbour;
        return;
    }
    if (sim::isPresent(neighbour)) {
        sim::unplug(neighbour);
    } else {
        sim::replug(neighbour);
    }
}

// The printer streams while Java opens and closes: the counter sequence, or a short pattern of its own.
void startEndlessStream(RoundContext &round, RandomSource &random) {
    sim::StreamSetup setup;
    if (random.percent(50)) setup.pattern.resize(random.below(16) + 1);
    for (uint8_t &byte : setup.pattern) byte = static_cast<uint8_t>(random.draw());
    sim::startStream(round.printer, setup);
}

void runController(RoundContext &round, RandomSource random, bool flips, const std::atomic<int> &workersLeft) {
    ActivityBoard::Slot &slot = round.board.join("chaos controller");
    bool suspended = false;
    while (workersLeft > 0) {
        int pick = static_cast<int>(random.below(100));
        slot.doing("controller step");
        if (suspended && pick < 40) {
            broadcastPower(slot, PBT_APMRESUMESUSPEND);
            suspended = false;
        } else if (pick < 30) {
            sendNoise(round, random);
        } else if (pick < 40) {
            if (sim::isPresent(round.printer)) {
                sim::unplug(round.printer);
            } else {
                sim::replug(round.printer);
            }
        } else if (pick < 48) {
            breakReads(round, random);
        } else if (pick < 53) {
            broadcastPower(slot, PBT_APMSUSPEND);
            suspended = true;
        } else if (pick < 55) {
            broadcastPower(slot, PBT_APMRESUMESUSPEND);
            suspended = false;
        } else if (flips && pick < 60) {
            slot.doing("neighbour plug");
            toggleNeighbour(round);
        } else if (pick < 70 && !sim::isPresent(round.printer)) {
            sim::replug(round.printer);
        } else {
            slot.doing("pause");
            std::this_thread::sleep_for(std::chrono::microseconds(random.below(2000)));
        }
        round.countOperation();
    }
    slot.leave();
}

}  // namespace

void runChaoticPhase(RoundContext &round, uint64_t phaseSeed) {
    RandomSource random(phaseSeed, 0);
    int workerCount = random.between(2, 5);

    std::vector<std::unique_ptr<JavaUsbPort>> ownPorts;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < workerCount; ++i) {
        // The first worker shares the driver's port object; the others have one each.
        JavaUsbPort *port = &round.port;
        if (i > 0) {
            ownPorts.push_back(std::make_unique<JavaUsbPort>(round.jvm));
            port = ownPorts.back().get();
        }
        ActivityBoard::Slot &slot = round.board.join(formatText("chaos worker %d", i + 1));
        // Writer numbers 1 and 2 belong to the orderly writers.
        workers.push_back(std::make_unique<Worker>(round, RandomSource(phaseSeed, 1 + i), *port, slot, 10 + i));
    }

    bool flips = random.percent(40);
    bool storm = random.percent(35);
    if (random.percent(40)) startEndlessStream(round, random);

    std::atomic<int> workersLeft{workerCount};
    std::vector<std::thread> threads;
    for (auto &worker : workers) {
        int operations = random.between(60, 250);
        threads.emplace_back([&workersLeft, &worker, operations] {
            runWorker(*worker, operations);
            --workersLeft;
        });
    }
    std::thread controller(runController, std::ref(round), RandomSource(phaseSeed, 99), flips, std::cref(workersLeft));
    std::thread powerStorm;
    if (storm) {
        powerStorm = std::thread(runPowerStorm, std::ref(round), mixSeed(phaseSeed ^ 98), std::cref(workersLeft));
    }
    for (std::thread &thread : threads) thread.join();
    controller.join();
    if (powerStorm.joinable()) powerStorm.join();
    ++round.counters.chaoticPhases;
}
