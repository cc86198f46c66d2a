// Keeps a failure's last-error value for the Java caller until the export returns, and the library's own record of
// it for usbGetLastError.
#pragma once

#include <windows.h>

// The code of the library's last failed call on the calling thread. Java asks for it in a second native call, and
// between the two the JVM runs its own code on the thread, which may change the thread's last-error value; the
// record is the library's own and only a failure of the library changes it.
DWORD LibraryLastError();
void RecordLibraryLastError(DWORD dwError);

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
        RecordLibraryLastError(m_dwError);
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
