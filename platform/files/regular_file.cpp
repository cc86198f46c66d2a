#include "files/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/io_request.h"

namespace platform {

RegularFile::RegularFile(int descriptor) : descriptor_(descriptor) {}

RegularFile::~RegularFile() { close(); }

void RegularFile::startIo(const std::shared_ptr<IoRequest> &request) {
    char *bytes = static_cast<char *>(request->buffer());
    DWORD done = 0;
    while (done < request->length()) {
        ssize_t moved = request->kind() == IoKind::Write ? ::write(descriptor_, bytes + done, request->length() - done)
                                                         : ::read(descriptor_, bytes + done, request->length() - done);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0) {
            request->complete(win32ErrorFromErrno(errno), done);
            return;
        }
        // End of file for a read: Windows reports success with the bytes there were.
        if (moved == 0) break;
        done += static_cast<DWORD>(moved);
    }
    request->complete(ERROR_SUCCESS, done);
}

// Every request ends before its dispatch returns, so there is never one to cancel.
void RegularFile::cancel(IoRequest &) {}

DWORD RegularFile::control(DWORD, const void *, DWORD, void *, DWORD, DWORD &bytesReturned) {
    bytesReturned = 0;
    return ERROR_INVALID_FUNCTION;
}

DWORD RegularFile::purge(DWORD) { return ERROR_INVALID_FUNCTION; }

void RegularFile::close() {
    if (descriptor_ < 0) return;
    ::close(descriptor_);
    descriptor_ = -1;
}

bool RegularFile::size(LONGLONG &bytes, DWORD &error) const {
    struct stat status;
    if (::fstat(descriptor_, &status) != 0) {
        error = win32ErrorFromErrno(errno);
        return false;
    }
    bytes = static_cast<LONGLONG>(status.st_size);
    return true;
}

bool isRegularFilePath(const char *path) {
    // An empty path names nothing; it stays with the device namespace, which finds no such device.
    if (path[0] == '\0') return false;
    return !(path[0] == '\\' && path[1] == '\\');
}

DWORD win32ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

namespace {

int openFlags(DWORD desiredAccess, DWORD creationDisposition) {
    bool reads = (desiredAccess & GENERIC_READ) != 0;
    bool writes = (desiredAccess & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0;
    int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    // Access to append only: every write goes to the end of the file, as Windows does for FILE_APPEND_DATA alone.
    if ((desiredAccess & FILE_APPEND_DATA) != 0 && (desiredAccess & GENERIC_WRITE) == 0) flags |= O_APPEND;
    switch (creationDisposition) {
    case CREATE_NEW:
        return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return flags | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS:
        return flags | O_CREAT;
    case TRUNCATE_EXISTING:
        return flags | O_TRUNC;
    default:
        return flags;
    }
}

bool folderExists(const char *path) {
    std::string folder(path);
    size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos) return true;
    folder.resize(slash == 0 ? 1 : slash);
    struct stat status;
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::shared_ptr<RegularFile> openRegularFile(const char *path, DWORD desiredAccess, DWORD creationDisposition,
                                             DWORD &error) {
    bool existed = ::access(path, F_OK) == 0;
    int descriptor = ::open(path, openFlags(desiredAccess, creationDisposition) | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        int openErrno = errno;
        // Windows tells a missing folder from a missing file.
        error = openErrno == ENOENT && !folderExists(path) ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(openErrno);
        return nullptr;
    }
    struct stat status;
    if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened through the last error of a call
    // that succeeded.
    bool reportsExisting = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
    error = reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return std::make_shared<RegularFile>(descriptor);
}

}  // namespace platform
