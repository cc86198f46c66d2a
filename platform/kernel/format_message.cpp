// FormatMessageA for the system's own message texts.
#include "kernel/error_texts.h"
#include "kernel/faults.h"
#include "kernel/local_memory.h"

#include <cstring>
#include <string>

namespace platform {
namespace {

// What the layer does not provide: message definitions from a string or a module, and line re-wrapping.
constexpr DWORD unsupportedFlags = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_MAX_WIDTH_MASK;

DWORD fail(DWORD error) {
    SetLastError(error);
    return 0;
}

DWORD storeAllocated(const std::string &text, LPSTR buffer, DWORD minimumSize) {
    if (buffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
    SIZE_T size = text.size() + 1 > minimumSize ? text.size() + 1 : minimumSize;
    auto *copy = static_cast<char *>(allocateLocal(size));
    if (copy == nullptr) return 0;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *reinterpret_cast<char **>(buffer) = copy;
    return static_cast<DWORD>(text.size());
}

DWORD storeInPlace(const std::string &text, LPSTR buffer, DWORD size) {
    if (buffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (text.size() + 1 > size) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

DWORD formatSystemMessage(DWORD flags, DWORD messageId, LPSTR buffer, DWORD size) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & unsupportedFlags) != 0) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    const char *text = systemErrorText(messageId);
    if (text == nullptr) return fail(ERROR_MR_MID_NOT_FOUND);
    // Without FORMAT_MESSAGE_IGNORE_INSERTS a %1 would need an argument the caller has not described.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::string message = std::string(text) + "\r\n";
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) return storeAllocated(message, buffer, size);
    return storeInPlace(message, buffer, size);
}

}  // namespace
}  // namespace platform

extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPSTR lpBuffer, DWORD nSize, void *Arguments) {
    if (platform::injectedFault("FormatMessageA")) return 0;
    // Every language gets the English texts: the layer stands in for an English system.
    return platform::formatSystemMessage(dwFlags, dwMessageId, lpBuffer, nSize);
}
