// The probe's own status request: DLE EOT 1 on the write pipe, one answer byte from the read pipe.
#pragma once

#include <windows.h>

#include <string>

namespace probe {

struct StatusAnswer {
    // The step that failed ("open write pipe", "write", ...); empty when the answer arrived.
    std::string failedStep;
    DWORD error = 0;
    BYTE status = 0;
};

// Opens both pipes under the interface path, sends DLE EOT 1 and waits at most waitMs for the answer. The read
// pipe is opened for overlapped I/O, so that a silent printer cannot hold the probe on either transport.
StatusAnswer exchangeStatus(const std::string &interfacePath, DWORD waitMs);

}  // namespace probe
