// The native backend under a few seconds of the usblp stress's seeded disorder (see usblp_stress.h): the same
// clients on the three names of an emulated vendor-class printer, with purges and synchronous reads besides, and a
// printer that takes what is written and answers waiting reads with its counting stream. It does not unplug: in
// the emulation a request that races the unplug can reach the terminal behind the node instead of the device
// model, and fail as no kernel would. Meant for ThreadSanitizer: tests/sanitize.sh runs it there. USBLP_STRESS_SECONDS
// sets the length (default 3); STRESS_SEED replays a run.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "native_fixture.h"
#include "stress/random_source.h"
#include "stress/stress_settings.h"
#include "stress/watchdog.h"
#include "usblp_stress.h"

namespace linuxdev_test {
namespace {

const int CLIENTS = 4;

// The printer's side until `clientsDone`: drops what reached the OUT endpoint (the model already completed those
// writes) and sends only to a waiting read, so that a read's bytes are fresh; one short packet counting from 0.
void runNativePrinter(StressRun &run, EmulatedNativePrinter &printer, const std::atomic<bool> &clientsDone) {
    RandomSource random(run.seed, 0);
    std::string written;
    while (!clientsDone) {
        // Pacing only.
        std::this_thread::sleep_for(std::chrono::microseconds(random.between(0, 2000)));
        printer.receive(written, 0, 0);
        if (nativeBackend().pendingReads() > 0)
            printer.send(countingChunk(0, static_cast<size_t>(random.between(1, 64))));
    }
}

using NativeStress = NativeTest;

TEST_F(NativeStress, everyRequestEndsRightlyThroughOpensClosesCancelsAndPurges) {
    StressSettings settings = readStressSettings();
    std::printf("native stress: %s\n", replayLine(settings.seed).c_str());
    StressRun run(settings.seed, path_, std::chrono::steady_clock::now() + stressLength());
    run.native = true;
    run.exercised = [&run] { return run.bytesRead > 0; };
    {
        Watchdog watchdog(
            run.operations, run.board, [&run] { return replayLine(run.seed); }, std::chrono::seconds(120));
        std::atomic<bool> clientsDone{false};
        std::thread printer([&] { runNativePrinter(run, printer_, clientsDone); });
        std::vector<std::thread> clients;
        for (int i = 1; i <= CLIENTS; ++i) clients.emplace_back([&run, i] { runStressClient(run, i); });
        for (std::thread &client : clients) client.join();
        clientsDone = true;
        printer.join();
    }
    for (const std::string &failure : run.failures()) ADD_FAILURE() << failure;
    if (HasFailure()) std::printf("native stress: failed; %s\n", replayLine(run.seed).c_str());
    std::printf("native stress: %llu calls, %llu bytes read\n", static_cast<unsigned long long>(run.operations.load()),
                static_cast<unsigned long long>(run.bytesRead.load()));
    EXPECT_GT(run.bytesRead.load(), 0u) << "no read ever got the printer's bytes";
}

}  // namespace
}  // namespace linuxdev_test
