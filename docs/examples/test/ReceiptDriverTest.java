package com.example.pos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.sim.PrinterStatus;
import com.qel.usb.sim.SimBus;
import com.qel.usb.sim.SimBusExtension;
import com.qel.usb.sim.SimTimeScale;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

@ExtendWith(SimBusExtension.class)
class ReceiptDriverTest {
    static final int PBT_APMSUSPEND = 4;
    static final int PBT_APMRESUMESUSPEND = 7;
    static final int ERROR_ACCESS_DENIED = 5;
    static final int ERROR_POWER_SUSPENDED = 0x100E0697;
    static final int WAIT_LIMIT_MS = 20_000;

    final ReceiptDriver driver = new ReceiptDriver();

    /** Polls instead of sleeping for a guessed time. */
    static void waitFor(BooleanSupplier condition, String what) throws InterruptedException {
        long deadline = System.nanoTime() + WAIT_LIMIT_MS * 1_000_000L;
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < deadline, "timed out waiting for " + what);
            Thread.sleep(1);
        }
    }

    @Test
    void printsAReceipt() throws Exception {
        int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        assertTrue(driver.open());
        assertEquals(0, driver.print("Tea  1.80\n"));
        waitFor(() -> "Tea  1.80\n".equals(SimBus.receiptText(printer)), "the receipt");
        driver.close();
    }

    @Test
    void seesTheCoverOpen() {
        int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        assertTrue(driver.open());
        SimBus.setPrinterState(printer, SimBus.COVER_OPEN);
        int cause = driver.status(2);
        assertTrue(PrinterStatus.coverOpen(cause), PrinterStatus.describe(2, cause));
        driver.close();
    }

    @Test
    @SimTimeScale(0.001) // the library's 20 s of resume handling take 20 ms
    void printsAgainAfterTheSystemSlept() throws Exception {
        int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        assertTrue(driver.open());
        SimBus.power(PBT_APMSUSPEND);
        assertEquals(ERROR_POWER_SUSPENDED, driver.print("lost\n"));

        Thread resume = new Thread(() -> SimBus.power(PBT_APMRESUMESUSPEND));
        resume.start();
        assertTrue(SimBus.awaitResumed(WAIT_LIMIT_MS));
        resume.join(WAIT_LIMIT_MS);
        assertTrue(driver.open(), "the library reopened the link; the driver takes its new handles");
        assertEquals(0, driver.print("Coffee  2.10\n"));
        waitFor(() -> SimBus.receiptText(printer).contains("Coffee  2.10"), "the receipt after the resume");
        driver.close();
    }

    @Test
    void printerClassLinkComesBackByItselfAfterAReplug() throws Exception {
        int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        assertTrue(driver.open());
        SimBus.detach(printer);
        assertTrue(driver.print("lost\n") != 0, "the printer is gone");
        SimBus.replug(printer);
        waitFor(() -> driver.print("Back\n") == 0, "the library to reconnect");
        driver.close();
    }

    @Test
    void nativeLinkMustBeReopenedAfterAReplug() {
        int printer = SimBus.attachReceiptPrinter(SimBus.NATIVE);
        assertTrue(driver.open());
        SimBus.detach(printer);
        SimBus.replug(printer);
        assertEquals(ERROR_ACCESS_DENIED, driver.print("lost\n"), "handles from before the unplug stay dead");
        driver.close();
        assertTrue(driver.open());
        assertEquals(0, driver.print("Back\n"));
        driver.close();
    }
}
