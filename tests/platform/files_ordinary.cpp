// Ordinary files: the trace's Win32 calls on host paths, with Win32's dispositions, codes and sizes.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "kernel/faults.h"

namespace {

std::string scratchPath(const char *name) {
    std::string path = "/tmp/viri-platform-" + std::to_string(getpid()) + "-" + name;
    unlink(path.c_str());
    return path;
}

HANDLE openFile(const std::string &path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string contents(const std::string &path) {
    HANDLE file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return "<none>";
    char buffer[256];
    DWORD count = 0;
    ReadFile(file, buffer, sizeof(buffer), &count, nullptr);
    CloseHandle(file);
    return std::string(buffer, count);
}

void put(HANDLE file, const std::string &text) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(text.size(), written);
}

TEST(OrdinaryFiles, createAppendSizeAndMoveAsWin32Does) {
    std::string path = scratchPath("a");
    HANDLE file = openFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError()) << "a new file";
    put(file, "one\n");
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(4, size.QuadPart);
    CloseHandle(file);

    file = openFile(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "an existing file opened";
    put(file, "two\n");
    CloseHandle(file);
    EXPECT_EQ("one\ntwo\n", contents(path));

    std::string moved = scratchPath("b");
    file = openFile(moved, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_FALSE(MoveFileExA(path.c_str(), moved.c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(MoveFileExA(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("one\ntwo\n", contents(moved));
    EXPECT_EQ("<none>", contents(path));
    unlink(moved.c_str());
}

TEST(OrdinaryFiles, failuresCarryWin32Codes) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, openFile("/nonexistent-folder-of-viri/x", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(scratchPath("missing"), GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openFile("/tmp", GENERIC_WRITE, OPEN_EXISTING));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    HANDLE device = CreateFileA("\\\\.\\no-such-device", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, device) << "device paths stay with the device namespace";
}

// Injected faults stand for failing devices: an ordinary file never takes one.
TEST(OrdinaryFiles, takeNoInjectedFault) {
    std::string path = scratchPath("c");
    platform::armFault("CreateFileA", 1, ERROR_ACCESS_DENIED);
    platform::armFault("WriteFile", 1, ERROR_WRITE_FAULT);
    HANDLE file = openFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    put(file, "kept");
    CloseHandle(file);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("\\\\.\\no-such-device", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError()) << "the fault waited for a device path";
    platform::clearFaults();
    unlink(path.c_str());
}

TEST(OrdinaryFiles, environmentAndClocks) {
    setenv("VIRI_PLATFORM_TEST_VARIABLE", "value", 1);
    char buffer[16];
    EXPECT_EQ(5u, GetEnvironmentVariableA("VIRI_PLATFORM_TEST_VARIABLE", buffer, sizeof(buffer)));
    EXPECT_STREQ("value", buffer);
    EXPECT_EQ(6u, GetEnvironmentVariableA("VIRI_PLATFORM_TEST_VARIABLE", buffer, 5)) << "the size it needs";
    unsetenv("VIRI_PLATFORM_TEST_VARIABLE");
    EXPECT_EQ(0u, GetEnvironmentVariableA("VIRI_PLATFORM_TEST_VARIABLE", buffer, sizeof(buffer)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), GetLastError());

    LARGE_INTEGER first, second, frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    QueryPerformanceCounter(&first);
    QueryPerformanceCounter(&second);
    EXPECT_LE(first.QuadPart, second.QuadPart);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2024);
    EXPECT_LE(now.wMonth, 12);
}

}  // namespace
