#include "linuxdev/write_interrupt.h"

#include <signal.h>

#include <mutex>

namespace linuxdev {
namespace {

int chosenSignal = 0;

void interruptsOnly(int) {}

// The highest real-time signal whose disposition is still the default: the low ones are the first others pick.
int installOnFreeSignal() {
    for (int signal = SIGRTMAX; signal >= SIGRTMIN; --signal) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction handler {};
        handler.sa_handler = interruptsOnly;
        sigemptyset(&handler.sa_mask);
        handler.sa_flags = 0;
        if (sigaction(signal, &handler, nullptr) == 0) return signal;
    }
    return 0;
}

}  // namespace

bool WriteInterrupt::install() {
    static std::once_flag once;
    std::call_once(once, [] { chosenSignal = installOnFreeSignal(); });
    return chosenSignal != 0;
}

void WriteInterrupt::acceptOnlyItOnThisThread() {
    sigset_t mask;
    sigfillset(&mask);
    // Blocked, a signal the thread's own fault raises would kill the process without its handler's report.
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, chosenSignal}) sigdelset(&mask, fault);
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

int WriteInterrupt::signalNumber() { return chosenSignal; }

void WriteInterrupt::send(pthread_t thread) { pthread_kill(thread, chosenSignal); }

}  // namespace linuxdev
