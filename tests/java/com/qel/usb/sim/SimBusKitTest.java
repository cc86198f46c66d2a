package com.qel.usb.sim;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.UsbPort;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

/** What a driver's tests wait on, and fault injection by name. */
@ExtendWith(SimBusExtension.class)
class SimBusKitTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int PBT_APMSUSPEND = 4;
    static final int PBT_APMRESUMESUSPEND = 7;
    static final int ERROR_ACCESS_DENIED = 5;
    static final int ERROR_POWER_SUSPENDED = 0x100E0697;
    static final int WAIT_LIMIT_MS = 20_000;

    final UsbPort usb = new UsbPort();

    @Test
    void aTestWaitsForTheEndOfAResumeInsteadOfSleeping() throws Exception {
        SimBus.timeScale(0.001);
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        assertFalse(SimBus.suspended());
        assertTrue(SimBus.awaitResumed(0), "nothing to wait for");

        SimBus.power(PBT_APMSUSPEND);
        assertTrue(SimBus.suspended());
        assertFalse(SimBus.awaitResumed(0), "no resume has come");
        Thread resume = new Thread(() -> SimBus.power(PBT_APMRESUMESUSPEND));
        resume.start();
        assertTrue(SimBus.awaitResumed(WAIT_LIMIT_MS));
        assertFalse(SimBus.suspended());
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE), "Java calls are taken again");
        resume.join(WAIT_LIMIT_MS);
        assertEquals(0, usb.usbClosePipe(port.hWritePort));
    }

    @Test
    void anUnknownFaultNameIsRefusedAndEveryListedOneIsTaken() {
        IllegalArgumentException refused = assertThrows(IllegalArgumentException.class,
                () -> SimBus.fail("CreateFileW", 1, 5));
        assertTrue(refused.getMessage().contains("CreateFileA"), "the message lists the names");
        assertThrows(IllegalArgumentException.class, () -> SimBus.fail(null, 1, 5));

        List<String> names = Arrays.asList(SimBus.faultNames());
        assertTrue(names.containsAll(List.of("CreateFileA", "ReadFile", "WriteFile", "CreateThread")));
        for (String name : names) {
            assertEquals(0, SimBus.fail(name, 0, 5), name);
        }
    }

    @Test
    void aFailedOpenReportsTheOpensOwnCode() {
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        SimBus.fail("CreateFileA", 1, ERROR_ACCESS_DENIED);
        assertEquals(-1, usb.usbInitPipe(new UsbPort(), GENERIC_WRITE));
        assertEquals(ERROR_ACCESS_DENIED, usb.usbGetLastError());
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE), "the fault was used up");
        assertEquals(0, usb.usbClosePipe(port.hWritePort));
    }
}
