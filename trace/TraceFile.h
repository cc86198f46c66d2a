// Where the trace goes: a file of bounded size, rotated once to "<path>.1", or the standard error stream. Used by
// the writer thread only, and by the load's check of the destination.
#pragma once

#include <windows.h>

#include <string>

const ULONGLONG TRACE_FILE_CAP = 4ull * 1024 * 1024;

class CTraceFile {
public:
    // "stderr" names the standard error stream; anything else is a file path.
    CTraceFile(const std::string &strDestination, ULONGLONG nCap);
    ~CTraceFile();
    CTraceFile(const CTraceFile &) = delete;
    CTraceFile &operator=(const CTraceFile &) = delete;

    // A fresh file: an earlier one (a previous run's) becomes "<path>.1". False, with the last error, when the
    // file cannot be created.
    bool OpenFresh();
    // The same file again, appended to, after the writer was stopped.
    bool OpenForAppend();
    bool IsOpen() const;
    void Close();
    // Adds one line to what Flush writes; a line that would take the file past its cap first rotates it.
    void Write(const char *pszLine, DWORD nLength);
    // Writes the lines added since the last flush in one call: the writer keeps up with a flood of events only when
    // a batch costs one system call, not one per line.
    void Flush();

private:
    bool Create(DWORD dwDisposition, DWORD dwAccess);
    void Rotate();
    void WriteHeader();
    void WriteRaw(const char *pszText, DWORD nLength);

    std::string m_strPath;
    bool m_bStderr;
    ULONGLONG m_nCap;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    // Counts the pending lines too.
    ULONGLONG m_nSize = 0;
    std::string m_strPending;
};
