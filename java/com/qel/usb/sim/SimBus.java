package com.qel.usb.sim;

import com.qel.usb.NativeLibrary;

/**
 * Control of the simulated USB bus inside the VIRIVOREzu library (Linux builds): plug in, feed, drain, unplug and
 * break simulated printers, deliver power broadcasts, and run the library's delays on a time scale.
 */
public final class SimBus {
    static {
        NativeLibrary.load();
    }

    public static final int NATIVE = 0;
    public static final int PRINTER_CLASS = 1;

    /** States of a virtual receipt printer, for {@link #setPrinterState}; 0 is online and ready. */
    public static final int COVER_OPEN = 0x001;
    public static final int PAPER_NEAR_END = 0x002;
    public static final int PAPER_OUT = 0x004;
    public static final int OFFLINE = 0x008;
    public static final int DRAWER_HIGH = 0x010;
    public static final int FEED_BUTTON = 0x020;
    public static final int AUTOCUTTER_ERROR = 0x040;
    public static final int UNRECOVERABLE_ERROR = 0x080;
    public static final int AUTO_RECOVERABLE_ERROR = 0x100;

    private SimBus() {
    }

    /** A new present printer of the given transport; its id (greater than 0), or -1. */
    public static native int attach(int transport, int vid, int pid);

    /** A new present printer with the first supported identifier pair, lower case. */
    public static native int attachDefault(int transport);

    /** Unplugs a printer: 0, or -1 for an unknown id. */
    public static native int detach(int id);

    /**
     * Plugs an unplugged printer in again under the same path: 0, or -1 for an unknown id. Handles opened before the
     * unplug stay dead; new opens work.
     */
    public static native int replug(int id);

    /** The printer sends these bytes to the host: their number, or -1. */
    public static native int send(int id, byte[] bytes);

    /** The bytes the host wrote to the printer since the last take (empty when none), or null for an unknown id. */
    public static native byte[] take(int id);

    /**
     * While on, the printer accepts no write: writes wait until it is turned off, they are cancelled or the printer
     * is unplugged. 0, or -1 for an unknown id.
     */
    public static native int stallWrites(int id, boolean on);

    /** Reads the printer's driver holds pending, so that a test can wait for a read to be under way; or -1. */
    public static native int pendingReads(int id);

    /**
     * Writes the printer's driver holds pending (a stalled printer, a receipt printer offline, slow
     * cancels), so that a test can wait for a write to be held; or -1.
     */
    public static native int pendingWrites(int id);

    /**
     * True while the library refuses Java calls because the system is suspended or its resume handling has not
     * ended (every call then answers the suspended code 0x100E0697).
     */
    public static native boolean suspended();

    /**
     * Waits until the library is no longer suspended, at most {@code milliseconds} of real time (not on the time
     * scale): true once it is not, false when the bound passed first. For a resume delivered on another thread.
     */
    public static native boolean awaitResumed(int milliseconds);

    /** Delivers WM_POWERBROADCAST with this event to every top-level window; how many windows handled it. */
    public static native int power(int event);

    /**
     * The next {@code times} calls of the named Win32 operation fail with {@code error} as their last error;
     * {@code times} of 0 disarms it. The names are those of {@link #faultNames()}; docs/simulator.md tells what
     * each failure leads to at the library's exports. Returns 0.
     *
     * @throws IllegalArgumentException for a name the simulator cannot fail
     */
    public static int fail(String operation, int times, int error) {
        if (operation == null || armFault(operation, times, error) != 0) {
            throw new IllegalArgumentException("not a Win32 operation the simulator can fail: " + operation
                    + "; known: " + String.join(", ", faultNames()));
        }
        return 0;
    }

    /** Every Win32 operation name {@link #fail} accepts. */
    public static String[] faultNames() {
        java.util.List<String> names = new java.util.ArrayList<>();
        for (String name = faultName(0); name != null; name = faultName(names.size())) {
            names.add(name);
        }
        return names.toArray(new String[0]);
    }

    private static native int armFault(String operation, int times, int error);

    private static native String faultName(int index);

    /** Runs every Sleep and finite time-out of the platform layer at this fraction of real time. */
    public static native void timeScale(double factor);

    /** The number of handles open in the platform layer, for leak checks. */
    public static native int openHandles();

    /**
     * A virtual ESC/POS receipt printer with the first supported identifier pair: it renders what the host writes
     * as a receipt and answers the status requests DLE EOT n (10 04 n) through the read pipe. Its id, or -1.
     */
    public static native int attachReceiptPrinter(int transport);

    /**
     * Sets a virtual receipt printer's state: any combination of {@link #COVER_OPEN}, {@link #PAPER_NEAR_END},
     * {@link #PAPER_OUT}, {@link #OFFLINE}, {@link #DRAWER_HIGH}, {@link #FEED_BUTTON}, {@link #AUTOCUTTER_ERROR},
     * {@link #UNRECOVERABLE_ERROR} and {@link #AUTO_RECOVERABLE_ERROR}. DLE EOT 1 to 4 then answer as an ESC/POS
     * receipt printer does ({@link PrinterStatus} decodes them). While it is offline (cover open, paper out,
     * {@link #OFFLINE}, the feed button held or an error) the printer takes only status requests: any other write
     * stays pending (see {@link #pendingWrites}) until it is online again, as a real printer's receive buffer fills.
     * 0, or -1 for an id without a receipt printer or an unknown flag.
     */
    public static native int setPrinterState(int id, int state);

    /** The receipt a virtual receipt printer has rendered so far, or null for an id without one. */
    public static native String receiptText(int id);

    /**
     * Opens the printer's two pipes for synchronous I/O without the library, for comparisons with it: 0, or -1.
     */
    public static native int rawOpen(int id);

    /** Writes on the pipes of {@link #rawOpen}: the number of bytes written, or -1. */
    public static native int rawWrite(int id, byte[] bytes);

    /** Reads on the pipes of {@link #rawOpen}, waiting as the printer's driver does: the number of bytes, or -1. */
    public static native int rawRead(int id, byte[] buffer);

    /** Closes the pipes of {@link #rawOpen}: 0, or -1. */
    public static native int rawClose(int id);

    /** Drops every byte the host has written to the printer: their number, or -1 for an unknown id. */
    public static native long discardWritten(int id);

    /**
     * On (the default), a read that finds bytes waiting ends inside ReadFile, as real drivers do; off, every
     * overlapped read pends first. 0, or -1 for an unknown id.
     */
    public static native int completeAtOnce(int id, boolean on);

    /**
     * The printer streams {@code pattern}, repeated, to the host as fast as the host reads and never faster: while
     * nobody reads, it waits and drops nothing. An empty or null pattern gives the counter sequence, byte i =
     * i mod 251, in which a lost or reordered byte shows. A {@code total} above 0 ends the stream after that many
     * bytes; 0 streams until {@link #stopStream}. 0, or -1 for an unknown id or a negative total.
     */
    public static native int stream(int id, byte[] pattern, long total);

    /** Stops the printer's stream: 0, or -1 for an unknown id. */
    public static native int stopStream(int id);

    /** How many stream bytes the host has taken so far, over every stream of the printer; -1 for an unknown id. */
    public static native long streamTaken(int id);

    /** Every {@code every}-th read ends at once with 0 bytes (1: every read, 0: none). 0, or -1. */
    public static native int zeroLengthReads(int id, int every);

    /**
     * A cancelled read or write ends this many milliseconds (on the time scale) after the cancel instead of inside
     * it; 0 restores that. 0, or -1 for an unknown id or a negative delay.
     */
    public static native int cancelDelay(int id, int milliseconds);

    /**
     * On: the printer's driver ignores CancelIo and CancelIoEx; its requests end normally, when their file's last
     * handle is closed, or at unplug. 0, or -1 for an unknown id.
     */
    public static native int ignoreCancel(int id, boolean on);

    /**
     * The error of every request on a handle opened before an unplug, for instance 5 (the default), 6 or 1167.
     * 0, or -1 for an unknown id or 0.
     */
    public static native int setUnplugCode(int id, int code);

    /**
     * Threads of the library's platform layer still running, the simulated bus's timer included. The trace's writer
     * ({@code VIRIVOREZU_TRACE}), which runs for as long as tracing does, is not counted.
     */
    public static native int liveThreads();

    /**
     * The platform layer's misuse reports since the last take, oldest first, and empties the record: calls that
     * Windows accepts or fails without a word but that corrupt data or act on the wrong object on a real machine (a
     * wait on a closed handle, an overlapped request without its OVERLAPPED, a suspend handler past its budget).
     * {@link SimBusExtension} fails a test after which there are any; a test that provokes one on purpose takes
     * them itself.
     */
    public static native String[] takeMisuseReports();

    /**
     * Brings the library and the bus back to their state after loading, whatever a test left behind: the
     * library's power thread and window end, its link is closed (only the read handles of the native transport,
     * which Java alone holds, stay), a suspension ends, every printer is removed, faults are cleared, the bus's
     * timer stops and time runs at real speed again. A resume in progress is waited for.
     */
    public static native void reset();
}
