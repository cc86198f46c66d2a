package com.qel.usb.sim;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.qel.usb.UsbPort;
import java.nio.charset.StandardCharsets;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

/** The virtual receipt printer's state as a driver sees it through the library: status answers and held writes. */
@ExtendWith(SimBusExtension.class)
class ReceiptPrinterStateTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final long WAIT_LIMIT_MS = 20_000;

    final UsbPort usb = new UsbPort();
    final UsbPort port = new UsbPort();
    int printer;

    @BeforeEach
    void openLink() {
        printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
    }

    @AfterEach
    void closeLink() {
        assertEquals(0, usb.usbClosePipe(port.hReadPort));
    }

    private int ask(int n) {
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, PrinterStatus.request(n)));
        byte[] answer = new byte[1];
        assertEquals(1, usb.usbReadInputPipe(port.hReadPort, answer));
        int status = answer[0] & 0xFF;
        assertTrue(PrinterStatus.isStatusByte(status), "a status byte: " + status);
        return status;
    }

    private int[] askAll(int state) {
        assertEquals(0, SimBus.setPrinterState(printer, state));
        return new int[] {ask(1), ask(2), ask(3), ask(4)};
    }

    static void waitFor(BooleanSupplier condition, String what) {
        long deadline = System.nanoTime() + WAIT_LIMIT_MS * 1_000_000;
        while (!condition.getAsBoolean()) {
            if (System.nanoTime() > deadline) {
                fail("timed out waiting for " + what);
            }
            Thread.onSpinWait();
        }
    }

    @Test
    void eachStateAnswersWithTheBitsOfAnEscPosPrinter() {
        assertEquals(0x12, askAll(0)[0], "a fresh printer is online");
        assertEquals("[18, 18, 18, 18]", java.util.Arrays.toString(askAll(0)));

        int[] drawer = askAll(SimBus.DRAWER_HIGH);
        assertTrue(PrinterStatus.drawerPinHigh(drawer[0]));
        assertFalse(PrinterStatus.offline(drawer[0]), "an open drawer leaves the printer online");

        int[] nearEnd = askAll(SimBus.PAPER_NEAR_END);
        assertTrue(PrinterStatus.paperNearEnd(nearEnd[3]));
        assertEquals(0x1E, nearEnd[3]);
        assertFalse(PrinterStatus.offline(nearEnd[0]), "near end still prints");

        int[] out = askAll(SimBus.PAPER_OUT);
        assertTrue(PrinterStatus.offline(out[0]));
        assertTrue(PrinterStatus.stoppedAtPaperEnd(out[1]));
        assertEquals(0x7E, out[3], "paper out shows near end as well");

        int[] offline = askAll(SimBus.OFFLINE);
        assertEquals(0x1A, offline[0]);
        assertEquals(0x12, offline[1], "offline without a cause the printer reports");

        int[] feed = askAll(SimBus.FEED_BUTTON);
        assertTrue(PrinterStatus.feedButtonPressed(feed[0]));
        assertTrue(PrinterStatus.offline(feed[0]));
        assertTrue(PrinterStatus.feedingByButton(feed[1]));

        int[] cutter = askAll(SimBus.AUTOCUTTER_ERROR);
        assertEquals(0x3A, cutter[0], "offline and waiting for online recovery");
        assertTrue(PrinterStatus.errorOccurred(cutter[1]));
        assertEquals(0x1A, cutter[2]);

        int[] errors = askAll(SimBus.UNRECOVERABLE_ERROR | SimBus.AUTO_RECOVERABLE_ERROR);
        assertEquals("unrecoverable error, automatically recoverable error", PrinterStatus.describe(3, errors[2]));
        assertFalse(PrinterStatus.waitingForRecovery(errors[0]));

        assertEquals(-1, SimBus.setPrinterState(printer, 0x200), "an unknown flag");
        assertEquals(-1, SimBus.setPrinterState(SimBus.attachDefault(SimBus.NATIVE), 0), "not a receipt printer");
    }

    // Prints while the printer is offline: the print stays pending, with nothing on the paper, until the
    // printer is online again, and then comes out whole after what was printed before.
    private void printHeldUntilOnline(String before) throws Exception {
        int[] result = new int[1];
        Thread printing = new Thread(() -> result[0] = usb.usbWriteOutputPipe(port.hWritePort,
                "Held\n".getBytes(StandardCharsets.US_ASCII)));
        printing.start();
        waitFor(() -> SimBus.pendingWrites(printer) == 1, "the print to be held");
        assertEquals(before, SimBus.receiptText(printer));

        assertEquals(0, SimBus.setPrinterState(printer, 0));
        printing.join(WAIT_LIMIT_MS);
        assertFalse(printing.isAlive());
        assertEquals(0, result[0]);
        assertEquals(0, SimBus.pendingWrites(printer));
        waitFor(() -> (before + "Held\n").equals(SimBus.receiptText(printer)), "the held print to come out");
    }

    @Test
    void withTheCoverOpenPrintDataWaitsButStatusRequestsAreAnswered() throws Exception {
        int[] open = askAll(SimBus.COVER_OPEN);
        assertTrue(PrinterStatus.offline(open[0]));
        assertTrue(PrinterStatus.coverOpen(open[1]));
        printHeldUntilOnline("");
        assertEquals(-1, SimBus.pendingWrites(12345));
    }

    @Test
    void paperRunsOutInTheMiddleOfAReceipt() throws Exception {
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, "First\n".getBytes(StandardCharsets.US_ASCII)));
        waitFor(() -> "First\n".equals(SimBus.receiptText(printer)), "the first line");
        int[] out = askAll(SimBus.PAPER_OUT);
        assertTrue(PrinterStatus.stoppedAtPaperEnd(out[1]));
        printHeldUntilOnline("First\n");
    }

    @Test
    void offlineAloneHoldsPrintDataToo() throws Exception {
        assertTrue(PrinterStatus.offline(askAll(SimBus.OFFLINE)[0]));
        printHeldUntilOnline("");
    }
}
