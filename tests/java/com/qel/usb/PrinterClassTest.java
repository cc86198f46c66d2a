package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.sim.SimBus;
import java.util.Arrays;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

class PrinterClassTest extends PrinterFixture {

    @Test
    void roadOfOneReceipt() throws Exception {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        int handlesBefore = SimBus.openHandles();
        UsbPort port = new UsbPort();

        assertEquals(1, open(port, usb.usbGetGenericWriteValue()));
        assertEquals(1, open(port, usb.usbGetGenericReadValue()));
        assertNoInvalidHandle(port.hWritePort);
        assertNoInvalidHandle(port.hReadPort);

        byte[] receipt = "Tea     1.80\n".getBytes("US-ASCII");
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, receipt));
        assertArrayEquals(receipt, takeAtLeast(printer, receipt.length));

        SimBus.send(printer, bytes(0x16, 0x00, 0x12));
        byte[] answer = new byte[2];
        assertEquals(2, usb.usbReadInputPipe(port.hReadPort, answer));
        assertArrayEquals(bytes(0x16, 0x00), answer);
        assertEquals(1, usb.usbReadInputPipe(port.hReadPort, answer), "the rest stayed for the next read");
        assertEquals(0x12, answer[0]);

        // The driver's serial requests do not exist on this transport.
        assertEquals(1, usb.usbGetCommTimeout(port.hReadPort));
        assertEquals(1, usb.usbSetCommTimeout(port.hReadPort, 1, 2, 3, 4, 5));
        assertEquals(1, usb.usbPurgeRequest(port.hReadPort));

        long start = System.nanoTime();
        assertEquals(0, close(port.hReadPort));
        long closeMs = (System.nanoTime() - start) / 1_000_000;
        assertEquals(0, close(port.hWritePort), "the second close finds nothing left");
        System.out.println("printer-class close took " + closeMs + " ms");

        waitFor(() -> SimBus.openHandles() <= handlesBefore, "every handle of the link to be closed");
    }

    @Test
    void closingTheWriteHandleFirstTearsDownTheWholeLink() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_WRITE));
        assertEquals(1, open(port, GENERIC_READ));
        assertEquals(0, close(port.hWritePort));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(port.hWritePort, bytes(1)));
        assertEquals(-1, usb.usbReadInputPipe(port.hReadPort, new byte[4]), "a read after the close finds nothing");
        assertEquals(0, close(port.hReadPort));
        assertEquals(0, SimBus.take(printer).length);
    }

    @Test
    void aCloseEndsABlockedReadAtOnce() throws Exception {
        SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_READ));
        CompletableFuture<Integer> read =
                CompletableFuture.supplyAsync(() -> usb.usbReadInputPipe(port.hReadPort, new byte[8]));
        assertEquals(0, close(port.hReadPort));
        assertEquals(-1, read.get(WAIT_LIMIT_MS, TimeUnit.MILLISECONDS));
    }

    @Test
    void aReadGivesUpAfterThreeSilentMinutes() {
        SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_READ));
        SimBus.timeScale(0.0005);
        // 180 s at this scale is 90 ms.
        assertEquals(-1, usb.usbReadInputPipe(port.hReadPort, new byte[8]));
    }

    @Test
    void readingResumesByItselfAfterTheCableIsPulledAndPluggedBack() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_WRITE));
        assertEquals(1, open(port, GENERIC_READ));
        SimBus.timeScale(0.01);

        SimBus.detach(printer);
        assertTrue(usb.usbWriteOutputPipe(port.hWritePort, bytes(1)) != 0, "writing to an unplugged printer fails");
        SimBus.replug(printer);

        // No call from Java: the reader reconnects by itself, and what the printer sends arrives.
        SimBus.send(printer, bytes(0x55, 0xAA));
        byte[] answer = new byte[4];
        SimBus.timeScale(1);
        assertEquals(2, usb.usbReadInputPipe(port.hReadPort, answer));
        assertArrayEquals(bytes(0x55, 0xAA), Arrays.copyOf(answer, 2));

        // The reconnect replaced both handles; writing goes to the new write pipe.
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, bytes(7)));
        assertArrayEquals(bytes(7), takeAtLeast(printer, 1));
    }

    @Test
    void aNativePrinterPluggedInBesideTheLinkDoesNotLetACloseTakeTheReadersHandle() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        int handlesBefore = SimBus.openHandles();
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_READ));
        // Detection now prefers the native printer and records its transport.
        SimBus.attachDefault(SimBus.NATIVE);
        assertEquals(0, usb.usbInitPipe(new UsbPort(), GENERIC_WRITE));

        // The printer-class read handle still goes through the printer-class close, which stops the reader first.
        assertEquals(0, close(port.hReadPort));
        waitFor(() -> SimBus.openHandles() <= handlesBefore, "the whole link, reader included, to be released");
        SimBus.send(printer, bytes(1));
        assertEquals(-1, usb.usbReadInputPipe(port.hReadPort, new byte[1]));
    }
}
