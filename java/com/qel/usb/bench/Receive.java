package com.qel.usb.bench;

import com.qel.usb.sim.SimBus;
import java.io.PrintStream;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Sustained receive, printer to Java: the printer sends a counting pattern in 1 KiB chunks, a Java thread reads
 * it with 4 KiB reads. Through the library on the printer-class transport, and on the device's own pipes without
 * the library.
 *
 * <p>Paced: the printer keeps at most 4 KiB ahead of what Java has read, which is what "Java keeps up" means for a
 * link whose ring buffer holds 4 KiB. Unpaced: the printer sends as fast as it can; whatever the ring buffer cannot
 * hold is lost, as on a real link whose reader thread outruns Java.
 */
final class Receive {
    private static final int CHUNK = 1024;
    private static final int READ_SIZE = 4096;
    private static final int WINDOW = 4096;
    private static final int PERIOD = 251;
    private static final long WARM_UP_BYTES = 4L << 20;
    private static final long MEASURED_BYTES = 64L << 20;
    private static final long STALL_NANOS = 1_000_000_000L;

    private static final byte[][] CHUNKS = chunks();

    private Receive() {
    }

    /** What one run measured. */
    private static final class Result {
        long received;
        long nanos;
        boolean intact;

        double megabytesPerSecond() {
            return received / (nanos / 1e9) / 1e6;
        }

        double lossPercent(long sent) {
            return 100.0 * (sent - received) / sent;
        }
    }

    /** Where the bytes are read from. */
    private interface Reader {
        int read(byte[] buffer);
    }

    static void run(PrintStream out) {
        out.println("Sustained receive, printer to Java (" + (MEASURED_BYTES >> 20) + " MiB sent in 1 KiB chunks, read"
                + " with 4 KiB reads)");
        for (boolean paced : new boolean[] {true, false}) {
            Result raw = raw(paced);
            Result library = library(paced);
            String mode = paced ? "paced" : "unpaced";
            row(out, mode + ", library", library, raw);
            row(out, mode + ", raw device", raw, raw);
        }
    }

    private static void row(PrintStream out, String name, Result result, Result baseline) {
        out.println(String.format("  %-22s %8.1f MB/s  loss %6.2f %%  %s  %.2fx raw", name,
                result.megabytesPerSecond(), result.lossPercent(MEASURED_BYTES),
                result.intact ? "stream intact " : "stream damaged",
                result.megabytesPerSecond() / baseline.megabytesPerSecond()));
    }

    private static Result library(boolean paced) {
        SimBus.reset();
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        Link link = Link.open();
        measure(printer, link::read, link::close, paced, WARM_UP_BYTES);
        SimBus.reset();
        printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        link = Link.open();
        Result result = measure(printer, link::read, link::close, paced, MEASURED_BYTES);
        SimBus.reset();
        return result;
    }

    private static Result raw(boolean paced) {
        Result result = null;
        for (long bytes : new long[] {WARM_UP_BYTES, MEASURED_BYTES}) {
            SimBus.reset();
            int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
            SimBus.rawOpen(printer);
            // A raw read never loses bytes, so it never stalls; unplugging ends a read that waits all the same.
            result = measure(printer, buffer -> SimBus.rawRead(printer, buffer), () -> SimBus.detach(printer), paced,
                    bytes);
            SimBus.rawClose(printer);
        }
        SimBus.reset();
        return result;
    }

    /**
     * Sends the bytes and reads them on another thread until all arrived or the reads stall, then ends the link
     * (which ends a read that waits for bytes that were lost).
     */
    private static Result measure(int printer, Reader reader, Runnable end, boolean paced, long total) {
        AtomicLong received = new AtomicLong();
        AtomicLong lastArrival = new AtomicLong();
        boolean[] intact = {true};
        Thread readerThread = new Thread(() -> {
            byte[] buffer = new byte[READ_SIZE];
            long position = 0;
            while (position < total) {
                int count = reader.read(buffer);
                if (count < 0) {
                    break;
                }
                if (intact[0] && !matches(buffer, count, position)) {
                    intact[0] = false;
                }
                position += count;
                lastArrival.set(System.nanoTime());
                received.set(position);
            }
        }, "bench-receiver");
        readerThread.start();

        long start = System.nanoTime();
        long sent = 0;
        while (sent < total) {
            while (paced && sent - received.get() > WINDOW - CHUNK) {
                Thread.yield();
            }
            SimBus.send(printer, CHUNKS[(int) (sent % PERIOD)]);
            sent += CHUNK;
        }
        awaitEnd(readerThread, received, total);
        end.run();
        join(readerThread);

        Result result = new Result();
        result.received = received.get();
        result.nanos = Math.max(1, lastArrival.get() - start);
        result.intact = intact[0] && result.received == total;
        return result;
    }

    private static void awaitEnd(Thread readerThread, AtomicLong received, long total) {
        long seen = -1;
        long since = System.nanoTime();
        while (readerThread.isAlive() && received.get() < total) {
            long now = received.get();
            if (now != seen) {
                seen = now;
                since = System.nanoTime();
            } else if (System.nanoTime() - since > STALL_NANOS) {
                return;
            }
            sleepOneMillisecond();
        }
    }

    private static void sleepOneMillisecond() {
        try {
            Thread.sleep(1);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void join(Thread thread) {
        try {
            thread.join(60_000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static boolean matches(byte[] buffer, int count, long position) {
        for (int i = 0; i < count; i++) {
            if (buffer[i] != pattern(position + i)) {
                return false;
            }
        }
        return true;
    }

    private static byte pattern(long position) {
        return (byte) (position % PERIOD);
    }

    /** The chunk that starts at each phase of the pattern. */
    private static byte[][] chunks() {
        byte[][] chunks = new byte[PERIOD][CHUNK];
        for (int phase = 0; phase < PERIOD; phase++) {
            for (int i = 0; i < CHUNK; i++) {
                chunks[phase][i] = pattern(phase + i);
            }
        }
        return chunks;
    }
}
