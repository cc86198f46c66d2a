// The texts of Microsoft's "System Error Codes" reference, for the codes the library, the layer and the simulated
// drivers report. A code not listed here has no text, as an unknown code has none on Windows.
#include "kernel/error_texts.h"

#include <iterator>

namespace platform {
namespace {

struct ErrorText {
    DWORD code;
    const char *text;
};

const ErrorText errorTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {14, "Not enough storage is available to complete this operation."},
    {21, "The device is not ready."},
    {22, "The device does not recognize the command."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {55, "The specified network resource or device is no longer available."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {157, "The segment is already discarded and cannot be locked."},
    {158, "The segment is already unlocked."},
    {183, "Cannot create a file when that file already exists."},
    {203, "The system could not find the environment option that was entered."},
    {206, "The filename or extension is too long."},
    {232, "The pipe is being closed."},
    {259, "No more data is available."},
    {288, "Attempt to release mutex not owned by caller."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1400, "Invalid window handle."},
    {1407, "Cannot find window class."},
    {1408, "Invalid window; it belongs to other thread."},
    {1410, "Class already exists."},
    {1411, "Class does not exist."},
    {1412, "Class still has open windows."},
    {1444, "Invalid thread identifier."},
    {1460, "This operation returned because the timeout period expired."},
    {1784, "The supplied user buffer is not valid for the requested operation."},
    {1816, "Not enough quota is available to process this command."},
};

// English texts are ASCII, but a system in another language gives FormatMessageA texts in its ANSI code page. So that
// such a text can be followed all the way to Java, one customer code (bit 29 set, never used by Windows) carries a
// German text in Windows-1252 bytes: "Fehler: Gerät nicht bereit – ÄÖÜ".
const ErrorText ansiTestTexts[] = {
    {0x20000001, "Fehler: Ger\xE4t nicht bereit \x96 \xC4\xD6\xDC"},
};

const char *findText(const ErrorText *begin, const ErrorText *end, DWORD code) {
    for (const ErrorText *entry = begin; entry != end; ++entry) {
        if (entry->code == code) return entry->text;
    }
    return nullptr;
}

}  // namespace

const char *systemErrorText(DWORD code) {
    const char *text = findText(std::begin(errorTexts), std::end(errorTexts), code);
    if (text != nullptr) return text;
    return findText(std::begin(ansiTestTexts), std::end(ansiTestTexts), code);
}

}  // namespace platform
