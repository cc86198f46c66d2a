// Ordinary files on the host's file system, for paths outside the device namespace: CreateFileA opens them, and
// ReadFile, WriteFile and GetFileSizeEx work on them as on Windows (synchronously; no overlapped I/O).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "files/device_file.h"

namespace platform {

class RegularFile : public DeviceFile {
public:
    explicit RegularFile(int descriptor);
    ~RegularFile() override;

    void startIo(const std::shared_ptr<IoRequest> &request) override;
    void cancel(IoRequest &request) override;
    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;

    // The file's size in bytes; false with the error code when it cannot be had.
    bool size(LONGLONG &bytes, DWORD &error) const;

private:
    int descriptor_;
};

// Device paths start with two backslashes (\\?\ and \\.\); any other path that is not empty names an ordinary
// file.
bool isRegularFilePath(const char *path);
// Opens an ordinary file with CreateFileA's access and disposition; null with the Win32 error code on failure.
std::shared_ptr<RegularFile> openRegularFile(const char *path, DWORD desiredAccess, DWORD creationDisposition,
                                             DWORD &error);
// The Win32 code for an errno value of the file calls.
DWORD win32ErrorFromErrno(int errnoValue);

}  // namespace platform
