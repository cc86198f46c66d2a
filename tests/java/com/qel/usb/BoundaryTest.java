package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.qel.usb.sim.SimBus;
import org.junit.jupiter.api.Test;

/** What Java gets at the boundary: access values, error codes and texts, and unsound arguments. */
class BoundaryTest extends PrinterFixture {

    /** A port class without the handle fields. */
    static final class NotAPort {
    }

    @Test
    void accessValuesAreTheWin32Constants() {
        assertEquals(-2147483648, usb.usbGetGenericReadValue());
        assertEquals(0x40000000, usb.usbGetGenericWriteValue());
    }

    @Test
    void errorTextsComeFromTheSystemOrSayWhatFailed() {
        assertEquals("The handle is invalid.\r\n", usb.usbGetErrorString(6));
        assertEquals("Not enough memory resources are available to process this command.\r\n",
                usb.usbGetErrorString(8));
        assertEquals("FormatMessage failed: 0\n", usb.usbGetErrorString(ERROR_POWER_SUSPENDED));
    }

    @Test
    void aSystemTextOutsideAsciiArrivesAsTheSameCharacters() {
        // The platform layer's Windows-1252 text under a customer code; 0x96 is the en dash there.
        assertEquals("Fehler: Ger\u00e4t nicht bereit \u2013 \u00c4\u00d6\u00dc\r\n", usb.usbGetErrorString(0x20000001));
    }

    @Test
    void unsoundArgumentsFailWithoutTouchingTheDevice() {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        UsbPort port = new UsbPort();

        assertEquals(-1, usb.usbInitPipe(port, 0x20000000));
        assertEquals(ERROR_INVALID_PARAMETER, usb.usbGetLastError());
        assertEquals(-1, usb.usbInitPipe(new NotAPort(), GENERIC_WRITE), "no Java exception either");
        assertEquals(-1, usb.usbInitPipe(null, GENERIC_WRITE));

        assertEquals(-1, usb.usbReadInputPipe(0, null));
        assertEquals(ERROR_INVALID_PARAMETER, usb.usbGetLastError());
        assertEquals(ERROR_INVALID_PARAMETER, usb.usbWriteOutputPipe(0, null));

        assertEquals(0, open(port, GENERIC_WRITE));
        assertEquals(0, SimBus.take(printer).length, "nothing was written");
    }

    @Test
    void lastErrorsBelongToTheirThread() throws Exception {
        assertEquals(ERROR_INVALID_HANDLE, usb.usbWriteOutputPipe(0, bytes(1)));
        Thread other = new Thread(() -> usb.usbInitPipe(new UsbPort(), 0));
        other.start();
        other.join();
        assertEquals(ERROR_INVALID_HANDLE, usb.usbGetLastError());
    }
}
