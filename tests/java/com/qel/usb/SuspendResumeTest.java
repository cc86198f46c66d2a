package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.sim.SimBus;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class SuspendResumeTest extends PrinterFixture {
    static final int PBT_APMQUERYSUSPEND = 0;
    static final int PBT_APMSUSPEND = 4;
    static final int PBT_APMRESUMESUSPEND = 7;
    static final int PBT_APMRESUMEAUTOMATIC = 18;
    static final byte[] SUSPEND_COMMAND = bytes(0x1D, 0xFF);
    static final byte[] RESUME_COMMAND = bytes(0x1D, 0x04, 0x02, 0x1B, 0x40);

    @BeforeEach
    void runDelaysFast() {
        // The resume's 15 s and 5 s pauses take milliseconds.
        SimBus.timeScale(0.001);
    }

    // Returns once the reader thread has its first read under way: a suspend that comes before the reader has begun
    // finds the link not yet connected, and neither sends the suspend command nor closes the link.
    private UsbPort openPrinterClassLink(int printer) {
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_WRITE));
        assertEquals(1, open(port, GENERIC_READ));
        waitFor(() -> SimBus.pendingReads(printer) >= 1, "the reader's first read");
        return port;
    }

    private void assertRefusedWhileSuspended(UsbPort port) {
        assertEquals(ERROR_POWER_SUSPENDED, usb.usbWriteOutputPipe(port.hWritePort, bytes(1)));
        assertEquals(ERROR_POWER_SUSPENDED, usb.usbGetLastError());
        assertEquals("Power Suspended\n", usb.usbGetErrorString(ERROR_POWER_SUSPENDED));
        assertEquals(-1, usb.usbReadInputPipe(port.hReadPort, new byte[4]));
        assertEquals(ERROR_POWER_SUSPENDED, usb.usbGetLastError());
        assertEquals(-1, usb.usbInitPipe(new UsbPort(), GENERIC_WRITE));
    }

    // The link came back with new handles: Java gets them from the next open, and a write goes out through them.
    private UsbPort takeReopenedLink(int printer) {
        UsbPort reopened = new UsbPort();
        assertEquals(1, usb.usbInitPipe(reopened, GENERIC_WRITE));
        assertEquals(1, usb.usbInitPipe(reopened, GENERIC_READ));
        assertEquals(0, usb.usbWriteOutputPipe(reopened.hWritePort, bytes(0x0A)));
        assertArrayEquals(bytes(0x0A), takeAtLeast(printer, 1));
        return reopened;
    }

    @Test
    void suspendAndResumeWithThePrinterPresent() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = openPrinterClassLink(printer);

        assertTrue(SimBus.power(PBT_APMSUSPEND) >= 1);
        assertArrayEquals(SUSPEND_COMMAND, takeAtLeast(printer, 2));
        assertRefusedWhileSuspended(port);

        SimBus.power(PBT_APMRESUMESUSPEND);
        assertArrayEquals(RESUME_COMMAND, takeAtLeast(printer, 5));

        UsbPort reopened = takeReopenedLink(printer);
        SimBus.send(printer, bytes(0x33));
        byte[] answer = new byte[1];
        assertEquals(1, usb.usbReadInputPipe(reopened.hReadPort, answer));
        assertEquals(0x33, answer[0]);
        assertEquals(0, close(reopened.hReadPort));
    }

    // A till woken by a scheduled task or a remote print job: Windows sends only the automatic resume. When a person
    // arrives later, the resume from suspend follows; the link is already back and nothing more is sent.
    @Test
    void aWakeWithNobodyPresentBringsTheLinkBackAndTheLaterResumeSendsNothing() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        openPrinterClassLink(printer);
        SimBus.power(PBT_APMSUSPEND);
        assertArrayEquals(SUSPEND_COMMAND, takeAtLeast(printer, 2));

        assertTrue(SimBus.power(PBT_APMRESUMEAUTOMATIC) >= 1);
        assertArrayEquals(RESUME_COMMAND, takeAtLeast(printer, 5));
        UsbPort reopened = takeReopenedLink(printer);

        assertTrue(SimBus.power(PBT_APMRESUMESUSPEND) >= 1);
        assertEquals(0, SimBus.take(printer).length, "a second resume command");
        assertEquals(0, usb.usbWriteOutputPipe(reopened.hWritePort, bytes(0x0B)));
        assertArrayEquals(bytes(0x0B), takeAtLeast(printer, 1));

        // The next sleep finds the link up and tells the printer again.
        waitFor(() -> SimBus.pendingReads(printer) >= 1, "the reader's first read on the reopened link");
        SimBus.power(PBT_APMSUSPEND);
        assertArrayEquals(SUSPEND_COMMAND, takeAtLeast(printer, 2));
        SimBus.power(PBT_APMRESUMEAUTOMATIC);
        assertArrayEquals(RESUME_COMMAND, takeAtLeast(printer, 5));
        UsbPort last = new UsbPort();
        assertEquals(1, usb.usbInitPipe(last, GENERIC_READ));
        assertEquals(0, close(last.hReadPort));
    }

    @Test
    void aLinkClosedWhileSuspendedStaysClosedAfterTheResume() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        int handlesBefore = SimBus.openHandles();
        UsbPort port = openPrinterClassLink(printer);
        SimBus.power(PBT_APMSUSPEND);
        assertEquals(0, close(port.hReadPort));
        assertEquals(0, close(port.hWritePort));

        // The power handler stayed up, so the resume arrives and lifts the suspended state, but the driver closed
        // its link: nothing is reopened and the printer is not initialised by a resume command nobody asked for.
        assertTrue(SimBus.power(PBT_APMRESUMESUSPEND) >= 1);
        assertArrayEquals(bytes(0x1D, 0xFF), takeAtLeast(printer, 2));
        assertEquals(0, SimBus.take(printer).length);
        // The power thread ends after such a resume, but its handle is kept until the power handler next starts or
        // stops; every test now begins without one, so it shows here.
        waitFor(() -> SimBus.openHandles() <= handlesBefore + 1, "the handles of the closed link to be gone");
        // At real time again: the close waits up to a second for the new power thread to end and then releases its
        // handle; at this test's scale that wait is a millisecond, which a busy machine outlasts, and the handle
        // would stay until the next start.
        SimBus.timeScale(1.0);
        UsbPort again = new UsbPort();
        assertEquals(1, open(again, GENERIC_READ));
        assertEquals(0, close(again.hReadPort));
        waitFor(() -> SimBus.openHandles() <= handlesBefore, "the ended power thread's handle to be gone");
    }

    @Test
    void aResumeWithoutASuspendChangesNothing() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = openPrinterClassLink(printer);
        SimBus.power(PBT_APMRESUMEAUTOMATIC);
        SimBus.power(PBT_APMRESUMESUSPEND);
        assertEquals(0, SimBus.take(printer).length);
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, bytes(0x42)));
        assertArrayEquals(bytes(0x42), takeAtLeast(printer, 1));
    }

    @Test
    void aPrinterThatIsGoneAtResumeStillEndsTheSuspendedState() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = openPrinterClassLink(printer);
        SimBus.power(PBT_APMSUSPEND);
        SimBus.detach(printer);
        SimBus.power(PBT_APMRESUMESUSPEND);
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(port.hWritePort, bytes(1)));
        assertEquals(-1, usb.usbInitPipe(new UsbPort(), GENERIC_WRITE));
    }

    @Test
    void theNativeTransportHasNoPowerHandling() {
        // A power window of an earlier printer-class link ends shortly after its close; a query reaches only
        // windows that still exist and changes nothing.
        waitFor(() -> SimBus.power(PBT_APMQUERYSUSPEND) == 0, "earlier power windows to be gone");
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_WRITE));
        assertEquals(0, SimBus.power(PBT_APMSUSPEND), "no power window on the native transport");
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, bytes(0x42)));
        assertArrayEquals(bytes(0x42), takeAtLeast(printer, 1));
    }

    @Test
    void aLinkInUseByReadingAndWritingThreadsComesBackWithNothingLost() throws Exception {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        openPrinterClassLink(printer);
        java.util.concurrent.atomic.AtomicBoolean running = new java.util.concurrent.atomic.AtomicBoolean(true);
        java.io.ByteArrayOutputStream received = new java.io.ByteArrayOutputStream();
        java.util.Set<Integer> writeResults = java.util.concurrent.ConcurrentHashMap.newKeySet();

        // The driver's threads keep using whatever handles the latest open gave them.
        Thread reader = new Thread(() -> {
            byte[] buffer = new byte[16];
            while (running.get()) {
                UsbPort current = new UsbPort();
                if (usb.usbInitPipe(current, GENERIC_READ) != 1) {
                    continue;
                }
                int count = usb.usbReadInputPipe(current.hReadPort, buffer);
                if (count > 0) {
                    synchronized (received) {
                        received.write(buffer, 0, count);
                    }
                }
            }
        });
        Thread writer = new Thread(() -> {
            while (running.get()) {
                writeResults.add(usb.usbWriteOutputPipe(0, bytes(0x0A)));
            }
        });
        reader.start();
        writer.start();
        waitFor(() -> writeResults.contains(0), "writes to get through before the suspend");

        SimBus.power(PBT_APMSUSPEND);
        waitFor(() -> writeResults.contains(ERROR_POWER_SUSPENDED), "a write to be refused while suspended");
        SimBus.power(PBT_APMRESUMESUSPEND);
        writeResults.clear();
        waitFor(() -> writeResults.contains(0), "writes to get through after the resume");

        byte[] answer = new byte[200];
        for (int i = 0; i < answer.length; i++) {
            answer[i] = (byte) i;
        }
        SimBus.send(printer, answer);
        waitFor(() -> {
            synchronized (received) {
                return received.size() >= answer.length;
            }
        }, "every byte the printer sent after the resume");
        running.set(false);
        SimBus.send(printer, bytes(0xFF));
        writer.join(WAIT_LIMIT_MS);
        reader.join(WAIT_LIMIT_MS);
        assertFalse(writer.isAlive(), "the writer did not end within the wait limit");
        assertFalse(reader.isAlive(), "the reader did not end within the wait limit");
        synchronized (received) {
            assertArrayEquals(answer, java.util.Arrays.copyOf(received.toByteArray(), answer.length));
        }
        byte[] written = SimBus.take(printer);
        assertTrue(containsInOrder(written, bytes(0x1D, 0xFF)) && containsInOrder(written, RESUME_COMMAND));
    }

    private static boolean containsInOrder(byte[] haystack, byte[] needle) {
        for (int start = 0; start + needle.length <= haystack.length; start++) {
            if (java.util.Arrays.equals(java.util.Arrays.copyOfRange(haystack, start, start + needle.length), needle)) {
                return true;
            }
        }
        return false;
    }
}
