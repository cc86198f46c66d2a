// How a write blocked in usblp is made to return: a signal to the thread that waits in it. usblp_wwait sleeps
// interruptibly and usblp_wtest answers a pending signal with -EINTR (drivers/usb/class/usblp.c), and no other call
// of the driver ends that wait short of the transfer's end or an unplug: a close() from another thread does not, as
// the writing thread holds its own reference to the file while it waits.
//
// The signal is a real-time one that nothing in the process handles yet (the JVM uses the classic signals), with a
// handler that does nothing: its only effect is the interrupted call. It is installed without SA_RESTART, so that no
// call of the thread is restarted behind the interrupt's back. A signal that lands just before the thread enters
// write() interrupts nothing, so whoever asks for the interrupt sends it again until the writer has returned.
#pragma once

#include <pthread.h>

namespace linuxdev {

class WriteInterrupt {
public:
    // Picks and installs the signal once per process; false when every real-time signal is taken.
    static bool install();
    // On the writing thread: lets the interrupt in and keeps every other asynchronous signal out. A thread inherits
    // its creator's signal mask, and the thread that opened the printer may be one (a JVM's, say) that blocks the
    // interrupt and takes the JVM's own (SIGTERM, SIGINT, a profiler's SIGPROF). Any of those would end a blocked
    // write as the interrupt does; the signals of a fault (SIGSEGV, SIGBUS, ...) stay with their handlers.
    static void acceptOnlyItOnThisThread();
    // The signal chosen by install(), or 0.
    static int signalNumber();
    // Interrupts what the thread is blocked in, if anything. install() must have succeeded.
    static void send(pthread_t thread);
};

}  // namespace linuxdev
