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
// Delivers WM_POWERBROADCAST with this wParam to every top-level window; returns how many handled it.
SIMBUS_API int simbus_power(int event);
// The next `times` calls of `operation` fail with `error`: 0, or -1 for an unknown name.
SIMBUS_API int simbus_fail(const char *operation, int times, unsigned error);
SIMBUS_API void simbus_time_scale(double factor);
// The platform layer's open handle count, for leak checks.
SIMBUS_API int simbus_open_handles(void);
// Detaches every printer, clears faults, sets the time scale back to 1.
SIMBUS_API void simbus_reset(void);

// A virtual ESC/POS receipt printer (sim/receipt_printer.h) with the first supported identifier pair: it renders
// what the host writes as a receipt and answers DLE EOT n through the read pipe. Its id, or -1.
SIMBUS_API int simbus_attach_receipt_printer(int transport);
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
