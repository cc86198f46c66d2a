package com.qel.usb;

import com.qel.usb.sim.SimBus;

// A driver's session in a JVM of its own, started by TraceTest with VIRIVOREZU_TRACE set: the library reads the
// variable as it loads. One receipt, an unplug and replug, a suspend and resume; then the reset, which writes out
// everything the trace still queues. Exits 0 when every call answered as expected.
public final class TracedDriver {
    private static final int PBT_APMSUSPEND = 4;
    private static final int PBT_APMRESUMESUSPEND = 7;

    private TracedDriver() {}

    private static void expect(boolean condition, String what) {
        if (!condition) {
            System.err.println("TracedDriver: " + what);
            System.exit(1);
        }
    }

    private static void waitFor(java.util.function.BooleanSupplier condition, String what) throws InterruptedException {
        long end = System.nanoTime() + 60_000_000_000L;
        while (!condition.getAsBoolean()) {
            expect(System.nanoTime() < end, "never: " + what);
            Thread.sleep(1);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        UsbPort usb = new UsbPort();
        int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        expect(usb.usbInitPipe(usb, usb.usbGetGenericWriteValue()) == 1, "write pipe");
        expect(usb.usbInitPipe(usb, usb.usbGetGenericReadValue()) == 1, "read pipe");
        waitFor(() -> SimBus.pendingReads(printer) == 1, "the reader's first read");
        expect(usb.usbWriteOutputPipe(usb.hWritePort, "Receipt\n".getBytes()) == 0, "receipt");
        expect(usb.usbWriteOutputPipe(usb.hWritePort, new byte[] {0x10, 0x04, 0x01}) == 0, "status request");
        expect(usb.usbReadInputPipe(usb.hReadPort, new byte[1]) == 1, "status answer");

        SimBus.detach(printer);
        waitFor(() -> SimBus.pendingReads(printer) <= 0, "the unplug");
        SimBus.replug(printer);
        waitFor(() -> SimBus.pendingReads(printer) == 1, "the reader's read after the replug");

        SimBus.timeScale(0.001);
        SimBus.power(PBT_APMSUSPEND);
        expect(usb.usbWriteOutputPipe(usb.hWritePort, new byte[] {0x0A}) == 0x100E0697, "refused while suspended");
        SimBus.power(PBT_APMRESUMESUSPEND);
        expect(SimBus.awaitResumed(60_000), "the resume");
        expect(usb.usbClosePipe(usb.hReadPort) == 0, "close");
        SimBus.reset();
        // The JVM of the tests cannot see this one's platform layer, so the session checks its own reports.
        String[] misuse = SimBus.takeMisuseReports();
        expect(misuse.length == 0, "misuse of Win32: " + String.join("; ", misuse));
        System.exit(0);
    }
}
