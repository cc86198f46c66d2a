package com.qel.usb.sim;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.qel.usb.MisuseCheck;
import com.qel.usb.UsbPort;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

/** A reset brings the library back to its state after loading, whatever the test before it left behind. */
@ExtendWith(MisuseCheck.class)
class SimBusResetTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int PBT_APMQUERYSUSPEND = 0;
    static final int PBT_APMSUSPEND = 4;

    final UsbPort usb = new UsbPort();
    int handlesAfterReset;

    @BeforeEach
    void start() {
        SimBus.reset();
        handlesAfterReset = SimBus.openHandles();
    }

    @AfterEach
    void end() {
        SimBus.reset();
    }

    private void assertFreshLibrary() {
        assertEquals(0, SimBus.power(PBT_APMQUERYSUSPEND), "no power window is left");
        assertEquals(0, SimBus.liveThreads(), "no thread of the library runs on");
        assertEquals(handlesAfterReset, SimBus.openHandles(), "the link's handles are closed");
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE), "a new open works");
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        assertEquals(0, usb.usbClosePipe(port.hReadPort));
    }

    @Test
    void aTestThatEndedSuspendedLeavesNoSuspension() {
        SimBus.timeScale(0.001);
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        SimBus.power(PBT_APMSUSPEND);

        SimBus.reset();
        assertFreshLibrary();
    }

    @Test
    void aTestThatLeftTheLinkOpenLeavesNothingRunning() {
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        SimBus.fail("CreateFileA", 100, 5);
        SimBus.timeScale(0.5);

        SimBus.reset();
        assertFreshLibrary();
    }

    @Test
    void aNativeWriteHandleLeftOpenIsClosed() {
        SimBus.attachDefault(SimBus.NATIVE);
        assertEquals(0, usb.usbInitPipe(new UsbPort(), GENERIC_WRITE));

        SimBus.reset();
        assertFreshLibrary();
    }
}
