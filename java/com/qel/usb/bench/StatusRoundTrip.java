package com.qel.usb.bench;

import com.qel.usb.sim.SimBus;
import java.io.PrintStream;

/**
 * Java writes DLE EOT 1, the virtual receipt printer answers one byte, Java's read returns: through the library,
 * and the same exchange on the simulated device's own pipes without the library.
 *
 * <p>On the printer-class transport the answer reaches Java through the library's reader thread: the read's
 * completion wakes the reader, whose data event wakes Java. bench/platform_wait_bench times two such wake-ups on
 * their own, the least that any design with a reader thread pays per exchange.
 */
final class StatusRoundTrip {
    private static final byte[] REQUEST = {0x10, 0x04, 0x01};
    /** Round 0 warms up; the later rounds are measured. The paths take turns, so that drift in the machine's load
     * spreads over all of them. */
    private static final int ROUNDS = 10;
    private static final int PER_ROUND = 5_000;

    private StatusRoundTrip() {
    }

    static void run(PrintStream out) {
        out.println("Status round trip (DLE EOT 1 written, one status byte read), " + ROUNDS * PER_ROUND
                + " exchanges per path after " + PER_ROUND + " for warm-up, the paths taking turns");
        Samples library = new Samples(ROUNDS * PER_ROUND);
        Samples raw = new Samples(ROUNDS * PER_ROUND);
        Samples nativeLibrary = new Samples(ROUNDS * PER_ROUND);
        Samples nativeRaw = new Samples(ROUNDS * PER_ROUND);
        for (int round = 0; round <= ROUNDS; round++) {
            boolean measured = round > 0;
            library(SimBus.PRINTER_CLASS, measured ? library : null);
            raw(SimBus.PRINTER_CLASS, measured ? raw : null);
            library(SimBus.NATIVE, measured ? nativeLibrary : null);
            raw(SimBus.NATIVE, measured ? nativeRaw : null);
        }
        row(out, "printer class, library", library, raw);
        row(out, "printer class, raw device", raw, raw);
        row(out, "native, library", nativeLibrary, nativeRaw);
        row(out, "native, raw device", nativeRaw, nativeRaw);
    }

    private static void row(PrintStream out, String name, Samples samples, Samples baseline) {
        out.println(String.format("  %-28s p50 %7.1f us  p99 %7.1f us  p99.9 %7.1f us   p50 %5.2fx, p99 %5.2fx raw",
                name, samples.percentileMicros(0.50), samples.percentileMicros(0.99),
                samples.percentileMicros(0.999), samples.percentileMicros(0.50) / baseline.percentileMicros(0.50),
                samples.percentileMicros(0.99) / baseline.percentileMicros(0.99)));
    }

    /** One round through the library; the samples are kept when {@code samples} is not null. */
    private static void library(int transport, Samples samples) {
        SimBus.reset();
        SimBus.attachReceiptPrinter(transport);
        Link link = Link.open();
        byte[] answer = new byte[1];
        for (int i = 0; i < PER_ROUND; i++) {
            long start = System.nanoTime();
            check(link.write(REQUEST) == 0 && link.read(answer) == 1);
            record(samples, System.nanoTime() - start);
        }
        link.close();
        SimBus.reset();
    }

    private static void raw(int transport, Samples samples) {
        SimBus.reset();
        int printer = SimBus.attachReceiptPrinter(transport);
        check(SimBus.rawOpen(printer) == 0);
        byte[] answer = new byte[1];
        for (int i = 0; i < PER_ROUND; i++) {
            long start = System.nanoTime();
            check(SimBus.rawWrite(printer, REQUEST) == REQUEST.length && SimBus.rawRead(printer, answer) == 1);
            record(samples, System.nanoTime() - start);
        }
        SimBus.rawClose(printer);
        SimBus.reset();
    }

    private static void record(Samples samples, long nanos) {
        if (samples != null) {
            samples.add(nanos);
        }
    }

    private static void check(boolean condition) {
        if (!condition) {
            throw new IllegalStateException("a status exchange failed");
        }
    }
}
