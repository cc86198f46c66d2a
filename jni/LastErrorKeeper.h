// Keeps a failure's last-error value for the Java caller until the export returns.
#pragma once

#include <windows.h>

// On Windows the C++ runtime's locks (the leases' and the port state's) may reset the thread's last error as they
// are released, after the failing call has set it. An export declares a keeper first, so that it is destroyed
// last, captures the error right after the call that failed, and the keeper puts it back as the export returns.
class CLastErrorKeeper {
public:
    CLastErrorKeeper() = default;
    CLastErrorKeeper(const CLastErrorKeeper &) = delete;
    CLastErrorKeeper &operator=(const CLastErrorKeeper &) = delete;
    ~CLastErrorKeeper() {
        if (m_bCaptured) SetLastError(m_dwError);
    }

    // Captures the thread's current last error and returns it.
    DWORD Capture() {
        m_dwError = GetLastError();
        m_bCaptured = true;
        return m_dwError;
    }

    // Sets the last error now and keeps it.
    DWORD Set(DWORD dwError) {
        SetLastError(dwError);
        return Capture();
    }

private:
    DWORD m_dwError = ERROR_SUCCESS;
    bool m_bCaptured = false;
};
