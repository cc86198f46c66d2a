package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.qel.usb.sim.SimBus;
import java.util.Arrays;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

class NativeTransportTest extends PrinterFixture {

    @Test
    void lifeOfAReceipt() throws Exception {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();

        assertEquals(0, open(port, usb.usbGetGenericWriteValue()));
        assertEquals(0, open(port, usb.usbGetGenericReadValue()));
        assertNoInvalidHandle(port.hWritePort);
        assertNoInvalidHandle(port.hReadPort);

        byte[] receipt = "Coffee  2.50\n\u001dV\u0000".getBytes("US-ASCII");
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, receipt));
        assertArrayEquals(receipt, takeAtLeast(printer, receipt.length));

        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, 200, 0, 1000));
        assertEquals(200, usb.usbGetCommTimeout(port.hReadPort));

        SimBus.send(printer, bytes(0x12, 0x34, 0x56));
        byte[] answer = new byte[8];
        Arrays.fill(answer, (byte) 0x7F);
        assertEquals(3, usb.usbReadInputPipe(port.hReadPort, answer));
        assertArrayEquals(bytes(0x12, 0x34, 0x56, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F), answer);

        // Nothing more arrives: the read ends at the driver's time-out with what it has, which is nothing.
        assertEquals(0, usb.usbReadInputPipe(port.hReadPort, answer));

        SimBus.send(printer, bytes(1, 2, 3));
        assertEquals(0, usb.usbPurgeRequest(port.hReadPort));
        assertEquals(0, usb.usbReadInputPipe(port.hReadPort, answer), "the purge discarded what was received");

        assertEquals(0, close(port.hReadPort));
        assertEquals(0, close(port.hWritePort));

        // After the close of the write handle the next open opens the pipe anew, and writing works again.
        assertEquals(0, open(port, GENERIC_WRITE));
        assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, bytes(0x1B, 0x40)));
        assertArrayEquals(bytes(0x1B, 0x40), takeAtLeast(printer, 2));
    }

    @Test
    void openingWithoutAPrinterFailsAndLeavesTheFieldsAlone() {
        UsbPort port = new UsbPort();
        port.hReadPort = 12345;
        port.hWritePort = 54321;
        assertEquals(-1, usb.usbInitPipe(port, GENERIC_READ));
        assertEquals(-1, usb.usbInitPipe(port, GENERIC_WRITE));
        assertEquals(12345, port.hReadPort);
        assertEquals(54321, port.hWritePort);
    }

    @Test
    void handlesAreReusedForTheWritePipeAndNewForEachReadPipe() {
        SimBus.attachDefault(SimBus.NATIVE);
        UsbPort first = new UsbPort();
        UsbPort second = new UsbPort();
        assertEquals(0, open(first, GENERIC_WRITE));
        assertEquals(0, open(second, GENERIC_WRITE));
        assertEquals(first.hWritePort, second.hWritePort);

        assertEquals(0, open(first, GENERIC_READ));
        assertEquals(0, open(second, GENERIC_READ));
        assertNotEquals(first.hReadPort, second.hReadPort);
        close(second.hWritePort);
    }

    @Test
    void staleAndForeignHandleValuesAreNeverTouched() {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        int handle = port.hReadPort;
        assertEquals(0, close(handle));

        assertEquals(ERROR_INVALID_HANDLE, usb.usbClosePipe(handle), "a second close");
        assertEquals(ERROR_INVALID_HANDLE, usb.usbClosePipe(0x7FFF0000), "a value the library never gave out");
        assertEquals(-1, usb.usbReadInputPipe(handle, new byte[4]));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbGetLastError());
        assertEquals(ERROR_INVALID_HANDLE, usb.usbGetCommTimeout(handle));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbSetCommTimeout(handle, 0, 0, 0, 0, 0));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbPurgeRequest(handle));
        SimBus.detach(printer);
    }

    @Test
    void writingWithoutAWritePipeReportsAnInvalidHandle() {
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(0, bytes(1)));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbGetLastError());
    }

    @Test
    void aWriteGoesToTheWritePipeWhateverHandleJavaPasses() {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_WRITE));
        assertEquals(0, usb.usbWriteOutputPipe(-1, bytes(9, 8, 7)));
        assertArrayEquals(bytes(9, 8, 7), takeAtLeast(printer, 3));
    }

    @Test
    void closingAReadHandleCancelsABlockedRead() throws Exception {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        // All time-outs zero: a read waits until its bytes arrive.
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, 0, 0, 0));

        int handle = port.hReadPort;
        CompletableFuture<int[]> read = CompletableFuture.supplyAsync(() -> {
            int result = usb.usbReadInputPipe(handle, new byte[16]);
            return new int[] {result, usb.usbGetLastError()};
        });
        waitFor(() -> SimBus.pendingReads(printer) == 1, "the read to be under way");
        assertEquals(0, close(handle));
        int[] outcome = read.get(WAIT_LIMIT_MS, TimeUnit.MILLISECONDS);
        assertEquals(-1, outcome[0]);
        assertEquals(ERROR_OPERATION_ABORTED, outcome[1]);
    }

    @Test
    void aReadDeliversOnlyWhatArrivedAndAnEmptyArrayReadsNothing() {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, -1, 0, 0, 0, 0));

        assertEquals(0, usb.usbReadInputPipe(port.hReadPort, new byte[0]));
        SimBus.send(printer, bytes(0x41));
        byte[] array = bytes(5, 5);
        assertEquals(1, usb.usbReadInputPipe(port.hReadPort, array));
        assertArrayEquals(bytes(0x41, 5), array);
    }

    @Test
    void aTimeoutMemberTheDriverMarksAsFixedKeepsItsValue() {
        SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, -2, 0, 0));
        assertEquals(-2, usb.usbGetCommTimeout(port.hReadPort));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, 700, 0, 0));
        assertEquals(-2, usb.usbGetCommTimeout(port.hReadPort), "0xFFFFFFFE read from the driver is kept");
    }

    @Test
    void whenTheCurrentTimeoutsCannotBeReadTheNewOnesStartFromZero() {
        SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, -2, 0, 0));
        // The read of the current record fails: no member can claim the driver's keep-marker from it.
        assertEquals(0, SimBus.fail("DeviceIoControl", 1, 31));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, 700, 0, 0));
        assertEquals(700, usb.usbGetCommTimeout(port.hReadPort));
    }

    @Test
    void aSuccessfulRequestReportsZeroWhateverFailedBefore() {
        SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();
        assertEquals(0, open(port, GENERIC_READ));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(0, bytes(1)));
        assertEquals(0, usb.usbSetCommTimeout(port.hReadPort, 0, 0, 100, 0, 0));
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(0, bytes(1)));
        assertEquals(0, usb.usbPurgeRequest(port.hReadPort));
    }
}
