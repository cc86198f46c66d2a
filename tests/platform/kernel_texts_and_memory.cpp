// FormatMessageA, the global memory functions and MultiByteToWideChar.
#include "kernel_test_support.h"

#include <string>

using namespace kernel_test;

namespace {

constexpr DWORD systemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD powerSuspendedCode = 0x100E0697;

std::string systemText(DWORD code) {
    char *text = nullptr;
    DWORD length = FormatMessageA(systemTextFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0) return {};
    std::string result(text);
    EXPECT_EQ(result.size(), length);
    EXPECT_EQ(LocalFree(text), nullptr);
    return result;
}

TEST(KernelFormatMessage, systemTextsAreWindowsOwnWithTheLineEnd) {
    EXPECT_EQ(systemText(6), "The handle is invalid.\r\n");
    EXPECT_EQ(systemText(8), "Not enough memory resources are available to process this command.\r\n");
    EXPECT_EQ(systemText(0), "The operation completed successfully.\r\n");
    EXPECT_EQ(systemText(995),
              "The I/O operation has been aborted because of either a thread exit or an application request.\r\n");
    // Insert sequences are passed through when inserts are ignored.
    EXPECT_EQ(systemText(317),
              "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
}

TEST(KernelFormatMessage, aCodeWithoutTextFailsWithMessageNotFound) {
    char *text = nullptr;
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(systemTextFlags, nullptr, powerSuspendedCode, 0x400, reinterpret_cast<LPSTR>(&text), 0,
                             nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(text, nullptr);
}

TEST(KernelFormatMessage, callerBufferMustHoldTextAndTerminator) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const std::string expected = "Access is denied.\r\n";
    char buffer[64] = {};
    SetLastError(4321);
    EXPECT_EQ(FormatMessageA(flags, nullptr, 5, 0, buffer, static_cast<DWORD>(expected.size() + 1), nullptr),
              expected.size());
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(GetLastError(), 4321u);

    EXPECT_EQ(FormatMessageA(flags, nullptr, 5, 0, buffer, static_cast<DWORD>(expected.size()), nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // A text with insert sequences needs FORMAT_MESSAGE_IGNORE_INSERTS when no arguments are given.
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 317, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KernelGlobalMemory, movableBlocksCountLocks) {
    HGLOBAL block = GlobalAlloc(GHND, 16);
    ASSERT_NE(block, nullptr);
    auto *first = static_cast<unsigned char *>(GlobalLock(block));
    ASSERT_NE(first, nullptr);
    EXPECT_NE(static_cast<void *>(first), block);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(first[i], 0) << i;
    EXPECT_EQ(GlobalLock(block), first);

    EXPECT_TRUE(GlobalUnlock(block));  // still locked once
    SetLastError(77);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

    EXPECT_EQ(GlobalFree(block), nullptr);
    SetLastError(0);
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalLock(block), nullptr);
}

TEST(KernelGlobalMemory, fixedAndEmptyBlocks) {
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);
    EXPECT_TRUE(GlobalUnlock(fixed));
    EXPECT_EQ(GlobalFree(fixed), nullptr);

    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GlobalLock(empty), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
    EXPECT_EQ(GlobalFree(empty), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

std::wstring wide(UINT codePage, DWORD flags, const std::string &bytes) {
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (needed == 0) return {};
    std::wstring result(static_cast<size_t>(needed), L'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), result.data(), needed),
              needed);
    return result;
}

TEST(KernelMultiByte, ansiIsWindows1252) {
    EXPECT_EQ(wide(CP_ACP, 0, "caf\xE9"), L"caf\u00E9");
    EXPECT_EQ(wide(CP_ACP, 0, "\x80\x9F\x81"), std::wstring({L'\u20AC', L'\u0178', L'\u0081'}));
}

TEST(KernelMultiByte, aSystemTextOutsideAsciiComesInTheAnsiPageAndConvertsFromIt) {
    // The customer code the layer gives a Windows-1252 text, as a German system gives its own texts.
    const std::string ansi = "Fehler: Ger\xE4t nicht bereit \x96 \xC4\xD6\xDC\r\n";
    EXPECT_EQ(systemText(0x20000001), ansi);
    EXPECT_EQ(wide(CP_ACP, 0, ansi), L"Fehler: Ger\u00E4t nicht bereit \u2013 \u00C4\u00D6\u00DC\r\n");
    EXPECT_EQ(wide(CP_ACP, 0, ansi), wide(1252, 0, ansi));
}

TEST(KernelMultiByte, utf8GivesUtf16UnitsAndFlagsIllFormedInput) {
    EXPECT_EQ(wide(CP_UTF8, 0, "\xE2\x82\xAC"), L"\u20AC");
    EXPECT_EQ(wide(CP_UTF8, 0, "\xF0\x9F\x98\x80"), std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)}));
    EXPECT_EQ(wide(CP_UTF8, 0, "a\xC3(\xED\xA0\x80"),
              std::wstring({L'a', L'\uFFFD', L'(', L'\uFFFD', L'\uFFFD', L'\uFFFD'}));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC3", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(KernelMultiByte, terminatorLengthsAndFailures) {
    // -1 converts up to and including the terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    wchar_t small[2];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", 3, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
