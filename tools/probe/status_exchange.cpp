#include "tools/probe/status_exchange.h"

namespace probe {
namespace {

const BYTE statusRequest[] = {0x10, 0x04, 0x01};

HANDLE openPipe(const std::string &path, DWORD flags) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

StatusAnswer failed(const char *step) {
    StatusAnswer answer;
    answer.failedStep = step;
    answer.error = GetLastError();
    return answer;
}

// Reads one byte, giving up after the wait; a read still pending is cancelled and finished before its buffer goes.
StatusAnswer readAnswer(HANDLE read, DWORD waitMs) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) return failed("create event");
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done;
    BYTE status = 0;
    DWORD count = 0;
    BOOL finished = ReadFile(read, &status, 1, &count, &overlapped);
    if (!finished && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(done, waitMs) != WAIT_OBJECT_0) CancelIoEx(read, &overlapped);
        finished = GetOverlappedResult(read, &overlapped, &count, TRUE);
    }
    StatusAnswer answer;
    if (!finished) {
        answer = failed("read");
    } else if (count == 0) {
        answer.failedStep = "read (no answer in time)";
    }
    answer.status = status;
    CloseHandle(done);
    return answer;
}

}  // namespace

StatusAnswer exchangeStatus(const std::string &interfacePath, DWORD waitMs) {
    HANDLE write = openPipe(interfacePath + "\\PIPE01", 0);
    if (write == INVALID_HANDLE_VALUE) return failed("open write pipe");
    HANDLE read = openPipe(interfacePath + "\\PIPE00", FILE_FLAG_OVERLAPPED);
    if (read == INVALID_HANDLE_VALUE) {
        StatusAnswer answer = failed("open read pipe");
        CloseHandle(write);
        return answer;
    }
    StatusAnswer answer;
    DWORD written = 0;
    if (!WriteFile(write, statusRequest, sizeof(statusRequest), &written, nullptr)) {
        answer = failed("write");
    } else {
        answer = readAnswer(read, waitMs);
    }
    CloseHandle(read);
    CloseHandle(write);
    return answer;
}

}  // namespace probe
