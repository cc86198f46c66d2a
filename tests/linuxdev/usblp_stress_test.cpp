// The usblp backend under a few seconds of seeded disorder (see usblp_stress.h), meant for ThreadSanitizer:
// tests/sanitize.sh runs it there. USBLP_STRESS_SECONDS sets the length (default 3); STRESS_SEED replays a run.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "stress/stress_settings.h"
#include "stress/watchdog.h"
#include "usblp_fixture.h"
#include "usblp_stress.h"

namespace linuxdev_test {
namespace {

const int CLIENTS = 4;

using UsblpStress = UsblpTest;

TEST_F(UsblpStress, everyRequestEndsRightlyThroughOpensClosesCancelsAndReplugs) {
    StressSettings settings = readStressSettings();
    std::printf("usblp stress: %s\n", replayLine(settings.seed).c_str());
    StressRun run(settings.seed, path_, std::chrono::steady_clock::now() + stressLength());
    run.exercised = [&run] { return run.replugs > 0; };
    {
        Watchdog watchdog(
            run.operations, run.board, [&run] { return replayLine(run.seed); }, std::chrono::seconds(120));
        std::atomic<bool> clientsDone{false};
        std::thread printer([&] { runStressPrinter(run, printer_, clientsDone); });
        std::vector<std::thread> clients;
        for (int i = 1; i <= CLIENTS; ++i) clients.emplace_back([&run, i] { runStressClient(run, i); });
        for (std::thread &client : clients) client.join();
        clientsDone = true;
        printer.join();
    }
    for (const std::string &failure : run.failures()) ADD_FAILURE() << failure;
    if (HasFailure()) std::printf("usblp stress: failed; %s\n", replayLine(run.seed).c_str());
    std::printf("usblp stress: %llu calls, %llu bytes read, %llu replugs\n",
                static_cast<unsigned long long>(run.operations.load()),
                static_cast<unsigned long long>(run.bytesRead.load()),
                static_cast<unsigned long long>(run.replugs.load()));
    EXPECT_GT(run.replugs.load(), 0u) << "the run never unplugged the printer";
    EXPECT_TRUE(waitUntil([this] { return printer_.descriptorsOnNode() == 0; })) << "the node is still open";
}

}  // namespace
}  // namespace linuxdev_test
