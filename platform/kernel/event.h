// Event objects (CreateEventA).
#pragma once

#include "kernel/kernel_object.h"

namespace platform {

class Event : public Waitable {
public:
    Event(bool manualReset, bool initiallySignalled);

    // For the layer's own use (completing overlapped I/O): these never fail and ignore armed faults, so an armed
    // SetEvent or ResetEvent fault reaches the caller's own call and not the layer's. They take waitLock(); do not
    // call them with it held.
    void set();
    void reset();

    bool isSignalled(DWORD threadId) const override;
    bool consume(DWORD threadId) override;

private:
    const bool manualReset_;
    bool signalled_;  // guarded by waitLock()
};

}  // namespace platform
