package com.qel.usb.bench;

import com.qel.usb.sim.SimBus;
import java.io.PrintStream;

/**
 * Sustained write, Java to printer, in 4 KiB writes: through the library on the printer-class transport, and on
 * the device's own write pipe without the library. The printer's received bytes are counted and dropped as they
 * come, the same way for both.
 */
final class Write {
    private static final int BLOCK = 4096;
    private static final int WARM_UP = 5_000;
    private static final int MEASURED = 50_000;
    private static final int DRAIN_EVERY = 64;

    private Write() {
    }

    /** Where the bytes are written. */
    private interface Writer {
        boolean write(byte[] bytes);
    }

    /** What one run measured. */
    private static final class Result {
        long nanos;
        long arrived;

        double megabytesPerSecond() {
            return (double) MEASURED * BLOCK / (nanos / 1e9) / 1e6;
        }

        long lost() {
            return (long) MEASURED * BLOCK - arrived;
        }
    }

    static void run(PrintStream out) {
        out.println("Sustained write, Java to printer (" + MEASURED + " writes of 4 KiB after " + WARM_UP
                + " for warm-up)");
        // Alternated, so that a change in the machine's load does not favour one side.
        Result raw = raw();
        Result library = library();
        Result raw2 = raw();
        Result library2 = library();
        Result bestRaw = raw.nanos < raw2.nanos ? raw : raw2;
        Result bestLibrary = library.nanos < library2.nanos ? library : library2;
        row(out, "library", bestLibrary, bestRaw);
        row(out, "raw device", bestRaw, bestRaw);
        row(out, "raw, idle link beside", rawBesideIdleLink(), bestRaw);
    }

    private static void row(PrintStream out, String name, Result result, Result baseline) {
        out.println(String.format("  %-22s %8.1f MB/s  lost %d bytes  %.3fx raw", name, result.megabytesPerSecond(),
                result.lost(), result.megabytesPerSecond() / baseline.megabytesPerSecond()));
    }

    private static Result library() {
        SimBus.reset();
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        Link link = Link.open();
        Result result = measure(printer, bytes -> link.write(bytes) == 0);
        link.close();
        SimBus.reset();
        return result;
    }

    private static Result raw() {
        SimBus.reset();
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        SimBus.rawOpen(printer);
        Result result = measure(printer, bytes -> SimBus.rawWrite(printer, bytes) == bytes.length);
        SimBus.rawClose(printer);
        SimBus.reset();
        return result;
    }

    /**
     * The raw path while a library link to another printer is open and idle: its reader thread waits in the
     * platform layer, which must not wake it for the raw writes' completions, as Windows does not.
     */
    private static Result rawBesideIdleLink() {
        SimBus.reset();
        SimBus.attachDefault(SimBus.PRINTER_CLASS);
        Link link = Link.open();
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        SimBus.rawOpen(printer);
        Result result = measure(printer, bytes -> SimBus.rawWrite(printer, bytes) == bytes.length);
        SimBus.rawClose(printer);
        link.close();
        SimBus.reset();
        return result;
    }

    private static Result measure(int printer, Writer writer) {
        byte[] block = new byte[BLOCK];
        for (int i = 0; i < BLOCK; i++) {
            block[i] = (byte) i;
        }
        for (int i = 0; i < WARM_UP; i++) {
            writeOrFail(writer, block);
            if (i % DRAIN_EVERY == 0) {
                SimBus.discardWritten(printer);
            }
        }
        SimBus.discardWritten(printer);

        Result result = new Result();
        long start = System.nanoTime();
        for (int i = 1; i <= MEASURED; i++) {
            writeOrFail(writer, block);
            if (i % DRAIN_EVERY == 0) {
                result.arrived += SimBus.discardWritten(printer);
            }
        }
        result.arrived += SimBus.discardWritten(printer);
        result.nanos = System.nanoTime() - start;
        return result;
    }

    private static void writeOrFail(Writer writer, byte[] block) {
        if (!writer.write(block)) {
            throw new IllegalStateException("a write failed");
        }
    }
}
