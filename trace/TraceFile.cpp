#include "trace/TraceFile.h"

#include <stdio.h>
#include <string.h>

CTraceFile::CTraceFile(const std::string &strDestination, ULONGLONG nCap)
    : m_strPath(strDestination), m_bStderr(strDestination == "stderr"), m_nCap(nCap) {}

CTraceFile::~CTraceFile() { Close(); }

bool CTraceFile::IsOpen() const { return m_bStderr || m_hFile != INVALID_HANDLE_VALUE; }

bool CTraceFile::OpenFresh() {
    if (m_bStderr) {
        WriteHeader();
        return true;
    }
    // The previous run's trace is what a support engineer asks for after a restart; it is kept as the rotation.
    MoveFileExA(m_strPath.c_str(), (m_strPath + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!Create(CREATE_ALWAYS, GENERIC_WRITE)) return false;
    WriteHeader();
    return true;
}

bool CTraceFile::OpenForAppend() {
    if (m_bStderr) return true;
    if (!Create(OPEN_ALWAYS, FILE_APPEND_DATA)) return false;
    LARGE_INTEGER size;
    m_nSize = GetFileSizeEx(m_hFile, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
    if (m_nSize == 0) WriteHeader();
    return true;
}

bool CTraceFile::Create(DWORD dwDisposition, DWORD dwAccess) {
    Close();
    // Shared, so that the trace can be copied and looked at while the driver runs.
    m_hFile = CreateFileA(m_strPath.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, dwDisposition,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    m_nSize = 0;
    return m_hFile != INVALID_HANDLE_VALUE;
}

void CTraceFile::Close() {
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    Flush();
    CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

void CTraceFile::Write(const char *pszLine, DWORD nLength) {
    if (m_bStderr) {
        fwrite(pszLine, 1, nLength, stderr);
        return;
    }
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    if (m_nSize + nLength > m_nCap) Rotate();
    m_strPending.append(pszLine, nLength);
    m_nSize += nLength;
}

void CTraceFile::Flush() {
    if (m_strPending.empty() || m_hFile == INVALID_HANDLE_VALUE) return;
    DWORD nWritten = 0;
    // A full disk loses lines, never the driver.
    WriteFile(m_hFile, m_strPending.data(), static_cast<DWORD>(m_strPending.size()), &nWritten, nullptr);
    m_strPending.clear();
}

void CTraceFile::Rotate() {
    Close();
    MoveFileExA(m_strPath.c_str(), (m_strPath + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (Create(CREATE_ALWAYS, GENERIC_WRITE)) WriteHeader();
}

void CTraceFile::WriteHeader() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char szHeader[200];
    int nLength = snprintf(szHeader, sizeof(szHeader),
                           "# VIRIVOREzu trace, pid %lu, file started %04u-%02u-%02u %02u:%02u:%02u.%03u local time; "
                           "times are ms since the library loaded\n",
                           static_cast<unsigned long>(GetCurrentProcessId()), now.wYear, now.wMonth, now.wDay,
                           now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    if (m_bStderr) {
        fwrite(szHeader, 1, static_cast<size_t>(nLength), stderr);
        return;
    }
    WriteRaw(szHeader, static_cast<DWORD>(nLength));
}

void CTraceFile::WriteRaw(const char *pszText, DWORD nLength) {
    m_strPending.append(pszText, nLength);
    m_nSize += nLength;
}
