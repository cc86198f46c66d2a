package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.sim.SimBus;
import org.junit.jupiter.api.Test;

/** A Java reader that falls behind (a garbage collection, a busy driver) must not lose what the printer sends. */
class SlowReaderTest extends PrinterFixture {
    private static final long STREAM_BYTES = 64L << 20;
    private static final long PAUSE_EVERY = 16L << 20;

    @Test
    void aStreamOf64MiBArrivesWholeAndInOrderThoughJavaPausesNowAndThen() throws Exception {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, open(port, GENERIC_READ));
        // The printer's stream is byte i = i mod 251: every byte tells where it belongs.
        assertEquals(0, SimBus.stream(printer, null, STREAM_BYTES));

        byte[] chunk = new byte[4096];
        long received = 0;
        long nextPause = PAUSE_EVERY;
        while (received < STREAM_BYTES) {
            int count = usb.usbReadInputPipe(port.hReadPort, chunk);
            assertTrue(count > 0, "read failed after " + received + " bytes: " + usb.usbGetLastError());
            for (int i = 0; i < count; i++) {
                long position = received + i;
                if ((chunk[i] & 0xFF) != position % 251) {
                    throw new AssertionError("byte " + position + " is " + (chunk[i] & 0xFF) + ": bytes were lost");
                }
            }
            received += count;
            if (received >= nextPause) {
                // Java stops taking for a while, as in a garbage collection: the reader must hold the printer back.
                Thread.sleep(200);
                nextPause += PAUSE_EVERY;
            }
        }
        assertEquals(STREAM_BYTES, received);
        assertEquals(STREAM_BYTES, SimBus.streamTaken(printer));
        assertEquals(0, close(port.hReadPort));
    }
}
