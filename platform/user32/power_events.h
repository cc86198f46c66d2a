// Where the system's power events come from. Windows sends WM_POWERBROADCAST to every top-level window by itself;
// on Linux a source outside USER32 (logind, over the system bus) has to be listened to, and only while a window
// exists that could receive what it reports. A device backend installs the source; the simulated bus installs none
// and broadcasts its own events.
#pragma once

#include <string>

namespace platform {

// Called with the layer's power-source lock held and no USER32 lock: start and stop are never concurrent, and
// neither runs inside USER32's own state.
class PowerEventSource {
public:
    virtual ~PowerEventSource() = default;
    // The first top-level window exists: begin delivering events through broadcastMessage. A source that cannot
    // (no system bus) stays off without failing the window's creation.
    virtual void start() = 0;
    // The last top-level window is gone: deliver nothing more. May run inside a window procedure, so it must not
    // wait for a broadcast that is still running.
    virtual void stop() = 0;
    // One line for the probe: whether power events are delivered here, and if not, why not.
    virtual std::string describe() = 0;
};

// Installs the source (null uninstalls it); a source replaced while running is stopped first, and the new one is
// started at once when top-level windows exist. The source must outlive its installation.
void installPowerEventSource(PowerEventSource *source);

// Starts or stops the installed source to match whether top-level windows exist. USER32 calls it after every
// creation and removal of a window, with none of its locks held.
void syncPowerEventSource();

// The installed source's description, or why there is none.
std::string describePowerEvents();

}  // namespace platform
