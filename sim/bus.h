// The simulated USB bus for C++ tests: printers that appear and disappear, with the native USB driver (transport 0)
// or the USB printer class driver (transport 1) behind them. simbus.h is the C surface over the same bus.
//
// What the simulated drivers answer (each code configurable, see ErrorCodes and setNotFoundCode):
// - opening a path that no present printer owns: ERROR_FILE_NOT_FOUND (2);
// - opening a printer set to refuse opens (in use): ERROR_ACCESS_DENIED (5) unless another code is chosen;
// - a read or write still in flight when its printer is unplugged: ERROR_DEVICE_NOT_CONNECTED (1167);
// - any later request on a handle opened before the unplug, also after a replug: ERROR_ACCESS_DENIED (5), the code
//   after which the library's reader reconnects;
// - a write on the read pipe (PIPE00) or a read on the write pipe (PIPE01): ERROR_INVALID_FUNCTION (1);
// - the printer class driver has no serial requests: DeviceIoControl and PurgeComm fail with
//   ERROR_INVALID_FUNCTION (1);
// - the native driver's time-outs at attach and after a replug: ReadTotalTimeoutConstant 1000 ms, all others 0.
//
// Habits of real drivers that a test can give a printer (each per printer, kept across unplug and replug):
// - setCompleteAtOnce: on (the default), a read that can end with the bytes waiting (printer class: any bytes;
//   native: as its time-outs allow) ends inside ReadFile, which returns TRUE with the count and sets the
//   OVERLAPPED's event; off, every overlapped read returns ERROR_IO_PENDING first;
// - startStream: the printer keeps every read satisfied with a pattern, only as fast as the host reads;
// - setZeroLengthReads: every n-th read ends at once, successfully, with 0 bytes;
// - setCancelDelay: a cancelled request ends some milliseconds (scaled) after the cancel, not inside it;
// - ignoreCancels: CancelIo, CancelIoEx and CancelSynchronousIo succeed but end nothing; requests end normally, at the
//   cleanup of their file (CloseHandle of its last handle) with ERROR_OPERATION_ABORTED, or at unplug. The cleanup of
//   a synchronous file comes only after its blocked call has returned (the layer's close rule), so such a call ends
//   only normally or at unplug.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

enum class Transport { Native = 0, PrinterClass = 1 };

// How the identifiers are written into the interface path: lower "vid_0dd4&pid_015d", upper
// "VID_0DD4&PID_015D", mixed "vid_0DD4&pid_015D" (lower-case prefixes, upper-case hexadecimal digits).
enum class LetterCase { Lower, Upper, Mixed };

struct PrinterSetup {
    Transport transport = Transport::Native;
    int vid = 0;
    int pid = 0;
    LetterCase letterCase = LetterCase::Lower;
    // Empty: a unique one such as "6&1f2e3d4c&0&1" is made up.
    std::string instance;
};

struct ErrorCodes {
    DWORD inFlightAtUnplug = ERROR_DEVICE_NOT_CONNECTED;
    DWORD handleAfterUnplug = ERROR_ACCESS_DENIED;
    DWORD openRefused = ERROR_ACCESS_DENIED;
};

// Sees every byte the host writes to a printer, in order, on a writing thread and outside the bus's lock, so
// that it may answer through send().
using PrinterModel = std::function<void(const uint8_t *bytes, size_t count)>;

// Asked, with the bus's lock held, whether the printer takes a write now; while it does not, that write and every
// write behind it wait, as under a stall. It must not call back into the bus.
using WriteGate = std::function<bool(const uint8_t *bytes, size_t count)>;

// A new present printer: its id (> 0), or -1 for a bad transport or identifier.
int attach(const PrinterSetup &setup);
// Unplug: the printer can no longer be enumerated or opened; what is in flight ends, open handles die, the bytes
// it had queued for the host are lost. Replug makes it present again under the same path, with the driver's
// defaults; handles from before stay dead. Both are false only for an unknown id.
bool unplug(int id);
bool replug(int id);
// Removes every printer (as unplugged, then forgotten).
void removeAll();

bool isPresent(int id);
// Empty for an unknown id.
std::string interfacePath(int id);

// The printer sends bytes to the host; false for an unknown or unplugged printer.
bool send(int id, const void *bytes, size_t count);
// Takes up to `capacity` of the bytes the host wrote, oldest first: their number, or -1 for an unknown id.
long take(int id, void *buffer, size_t capacity);
// Takes all of them; false for an unknown id.
bool takeAll(int id, std::vector<uint8_t> &bytes);

// A stalled printer accepts no write: writes wait until unstalled, cancelled, timed out (native driver's write
// time-outs) or unplugged.
bool stallWrites(int id, bool stalled);
bool refuseOpens(int id, bool refuse);
bool setErrorCodes(int id, const ErrorCodes &codes);
// The printer's codes; the defaults for an unknown id.
ErrorCodes errorCodes(int id);
void setNotFoundCode(DWORD code);
// Replaces the printer's model; an empty function removes it.
bool setModel(int id, PrinterModel model);
// Replaces the printer's write gate; an empty function takes every write. After the gate's answer may have
// changed, retryWrites lets waiting writes through that it now takes.
bool setWriteGate(int id, WriteGate gate);
bool retryWrites(int id);

// A read that finds bytes waiting ends inside ReadFile (on, the default) or always pends first (off).
bool setCompleteAtOnce(int id, bool on);

struct StreamSetup {
    // Repeated without end; empty gives the counter sequence, byte i = i mod 251, in which every byte is checkable.
    std::vector<uint8_t> pattern;
    // The stream ends after this many bytes; 0 streams until stopStream.
    uint64_t total = 0;
};
// The printer sends the stream as fast as the host reads and not faster: while nobody reads it waits and drops
// nothing. Bytes sent with send() go first. Starting again restarts the pattern. Both false for an unknown id.
bool startStream(int id, const StreamSetup &setup);
bool stopStream(int id);
// How many stream bytes the host's reads have been handed, over every stream of the printer; 0 for an unknown id.
uint64_t streamTaken(int id);

// Every `every`-th read from now on ends at once with 0 bytes and success; 1 makes every read do so, 0 none.
bool setZeroLengthReads(int id, unsigned every);
// A cancelled request ends `milliseconds` (on the time scale) after the cancel; 0, the default, ends it inside.
bool setCancelDelay(int id, DWORD milliseconds);
// While on, cancels end nothing: a request ends normally, at its file's cleanup, or at unplug.
bool ignoreCancels(int id, bool ignore);

// The device's current serial time-outs (native driver); all zero for an unknown id.
COMMTIMEOUTS timeouts(int id);
// Requests the printer's driver holds pending, slow cancels included; tests wait on these rather than sleep.
size_t pendingReads(int id);
size_t pendingWrites(int id);
// Files open on one printer, and on all printers, removed ones included (for leak checks).
int openFiles(int id);
int openFiles();

}  // namespace sim
