// The simulated USB bus's control API: one surface for C++ tests, Java tests (through com.qel.usb.sim.SimBus),
// the demo and the probe. Exported from the library in builds with the simulator.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define SIMBUS_API __attribute__((visibility("default")))

// A new present printer: transport 0 is the native USB driver, 1 the USB printer class driver.
// Returns its id (> 0), or -1.
SIMBUS_API int simbus_attach(int transport, int vid, int pid);
// The same with the first identifier pair of the supported-device table, in lower case.
SIMBUS_API int simbus_attach_default(int transport);
// Unplugs a printer: 0, or -1 for an unknown id.
SIMBUS_API int simbus_detach(int id);
// Plugs an unplugged printer in again under the same path; handles opened before the unplug stay dead.
// 0, or -1 for an unknown id.
SIMBUS_API int simbus_replug(int id);
// The printer sends n bytes to the host: n, or -1.
SIMBUS_API int simbus_send(int id, const void *bytes, int n);
// Takes up to cap of the bytes the host wrote to the printer, oldest first: the count, or -1 for an unknown id.
SIMBUS_API int simbus_take(int id, void *buf, int cap);
// While on, the printer accepts no write: writes wait until it is turned off, they are cancelled or the printer is
// unplugged. 0, or -1 for an unknown id.
SIMBUS_API int simbus_stall_writes(int id, int on);
// Reads the printer's driver holds pending, so that tests wait for a read to be under way: the count, or -1.
SIMBUS_API int simbus_pending_reads(int id);
// Writes the printer's driver holds pending (stalled, a receipt printer offline, slow cancels): the count, or -1.
SIMBUS_API int simbus_pending_writes(int id);
// 1 while the library refuses Java calls because the system is suspended or its resume handling has not ended,
// else 0.
SIMBUS_API int simbus_suspended(void);
// Waits until the library is no longer suspended, at most `milliseconds` of real time (not on the time scale):
// 0 once it is not, -1 when the bound passed first.
SIMBUS_API int simbus_await_resumed(int milliseconds);
// Delivers WM_POWERBROADCAST with this wParam to every top-level window; returns how many handled it.
SIMBUS_API int simbus_power(int event);
// The next `times` calls of `operation` fail with `error`; times <= 0 disarms it. 0, or -1 for a name that is not
// one of simbus_fault_name's. docs/simulator.md tells what each leads to at the library's exports.
SIMBUS_API int simbus_fail(const char *operation, int times, unsigned error);
// The names simbus_fail accepts: the index-th, or null past the last.
SIMBUS_API const char *simbus_fault_name(int index);
SIMBUS_API void simbus_time_scale(double factor);
// The platform layer's open handle count, for leak checks.
SIMBUS_API int simbus_open_handles(void);
// Brings the library and the bus back to their state after loading: the library's power thread and window end, its
// link is closed (the native transport's read handles, which only Java holds, excepted), a suspension ends, every
// printer is removed, faults are cleared, the bus's timer stops and the time scale is 1 again. A resume in progress
// is waited for.
SIMBUS_API void simbus_reset(void);

// Habits of real drivers (sim/bus.h tells each in full). Each returns 0, or -1 for an unknown id or a bad value.
// on (the default): a read that finds bytes waiting ends inside ReadFile; 0: every overlapped read pends first.
SIMBUS_API int simbus_complete_at_once(int id, int on);
// The printer streams `pattern` (n bytes, repeated) to the host as fast as the host reads, never faster; with no
// pattern (n == 0) the counter sequence byte i = i mod 251. total > 0 ends the stream after that many bytes,
// 0 streams until simbus_stop_stream.
SIMBUS_API int simbus_stream(int id, const void *pattern, int n, long long total);
SIMBUS_API int simbus_stop_stream(int id);
// The stream bytes the host has taken so far, or -1 for an unknown id.
SIMBUS_API long long simbus_stream_taken(int id);
// Every `every`-th read ends at once with 0 bytes (1: every read, 0: none).
SIMBUS_API int simbus_zero_length_reads(int id, int every);
// A cancelled request ends this many milliseconds (on the time scale) after the cancel; 0 ends it inside.
SIMBUS_API int simbus_cancel_delay(int id, int milliseconds);
// on: the driver ignores CancelIo and CancelIoEx; requests end when their file's last handle closes, or at unplug.
SIMBUS_API int simbus_ignore_cancel(int id, int on);
// The error of every request on a handle opened before an unplug, for instance 5 (the default), 6 or 1167.
SIMBUS_API int simbus_set_unplug_code(int id, unsigned code);
// Threads of the platform layer still running, the simulated bus's timer included; the library's trace writer,
// which runs as long as tracing does, is left out.
SIMBUS_API int simbus_live_threads(void);

// A virtual ESC/POS receipt printer (sim/receipt_printer.h) with the first supported identifier pair: it renders
// what the host writes as a receipt and answers DLE EOT n through the read pipe. Its id, or -1.
SIMBUS_API int simbus_attach_receipt_printer(int transport);
// The receipt printer's state, any combination of these flags (0: online, cover closed, paper present, no error).
// DLE EOT 1 to 4 answer with the bits an ESC/POS receipt printer sends (docs/simulator.md); while it is offline (the
// cover open, paper out, offline, the feed button or an error) the printer takes only status requests, and any other
// write stays pending until it is online again.
enum {
    SIMBUS_COVER_OPEN = 0x001,
    SIMBUS_PAPER_NEAR_END = 0x002,
    SIMBUS_PAPER_OUT = 0x004,
    SIMBUS_OFFLINE = 0x008,
    SIMBUS_DRAWER_HIGH = 0x010,
    SIMBUS_FEED_BUTTON = 0x020,
    SIMBUS_AUTOCUTTER_ERROR = 0x040,
    SIMBUS_UNRECOVERABLE_ERROR = 0x080,
    SIMBUS_AUTO_RECOVERABLE_ERROR = 0x100,
    SIMBUS_ALL_STATES = 0x1FF,
};
// 0, or -1 for an id without a receipt printer or an unknown flag.
SIMBUS_API int simbus_set_printer_state(int id, unsigned state);
// Copies the receipt rendered so far into buf, at most cap - 1 characters and a terminator. Returns the full
// length of the text, or -1 for an id without a receipt printer.
SIMBUS_API int simbus_receipt_text(int id, char *buf, int cap);

// The path to a printer without the library, for comparisons: its two pipes opened for synchronous I/O straight
// through the platform layer. Open and close: 0, or -1. Write and read: the number of bytes, or -1.
SIMBUS_API int simbus_raw_open(int id);
SIMBUS_API int simbus_raw_write(int id, const void *bytes, int n);
SIMBUS_API int simbus_raw_read(int id, void *buf, int cap);
SIMBUS_API int simbus_raw_close(int id);
// Drops every byte the host has written to the printer: their number, or -1 for an unknown id.
SIMBUS_API long long simbus_discard_written(int id);

#ifdef __cplusplus
}
#endif
