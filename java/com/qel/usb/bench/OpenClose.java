package com.qel.usb.bench;

import com.qel.usb.sim.SimBus;
import java.io.PrintStream;

/**
 * Opening the link (write pipe, then read pipe, as the driver does) and closing it (read pipe, then write pipe),
 * with the printer alone on the bus and with 64 device interfaces present.
 */
final class OpenClose {
    private static final int WARM_UP = 3;
    private static final int MEASURED = 30;
    private static final int UNSUPPORTED_VID = 0x04B8;
    private static final int UNSUPPORTED_PID = 0x0E15;

    private OpenClose() {
    }

    static void run(PrintStream out) {
        out.println("Open and close (" + MEASURED + " cycles after " + WARM_UP + " for warm-up)");
        measure(out, "printer class, printer alone", SimBus.PRINTER_CLASS, 0);
        measure(out, "printer class, 64 interfaces", SimBus.PRINTER_CLASS, 63);
        measure(out, "native, printer alone", SimBus.NATIVE, 0);
        measure(out, "native, 64 interfaces", SimBus.NATIVE, 63);
    }

    /**
     * Unsupported devices go first, split between both driver classes, so that detection and lookup go through
     * every one of them before they find the printer.
     */
    private static void measure(PrintStream out, String name, int transport, int others) {
        SimBus.reset();
        for (int i = 0; i < others; i++) {
            SimBus.attach(i % 2 == 0 ? SimBus.NATIVE : SimBus.PRINTER_CLASS, UNSUPPORTED_VID, UNSUPPORTED_PID);
        }
        SimBus.attachDefault(transport);
        Samples opens = new Samples(MEASURED);
        Samples closes = new Samples(MEASURED);
        for (int i = 0; i < WARM_UP + MEASURED; i++) {
            long start = System.nanoTime();
            Link link = Link.open();
            long opened = System.nanoTime();
            link.close();
            long closed = System.nanoTime();
            if (i >= WARM_UP) {
                opens.add(opened - start);
                closes.add(closed - opened);
            }
        }
        SimBus.reset();
        out.println(String.format("  %-30s open p50 %8.3f ms  max %8.3f ms   close p50 %8.3f ms  max %8.3f ms",
                name, opens.percentileMillis(0.5), opens.percentileMillis(1.0), closes.percentileMillis(0.5),
                closes.percentileMillis(1.0)));
    }
}
