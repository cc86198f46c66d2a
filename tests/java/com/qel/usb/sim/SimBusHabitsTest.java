package com.qel.usb.sim;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.qel.usb.MisuseCheck;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

/** The switches for the habits of real drivers, reached from Java; their behaviour is tested in C++. */
@ExtendWith(MisuseCheck.class)
class SimBusHabitsTest {
    @BeforeEach
    @AfterEach
    void resetBus() {
        SimBus.reset();
    }

    @Test
    void everySwitchAnswersForAKnownPrinterAndRefusesAnUnknownOne() {
        int printer = SimBus.attachDefault(SimBus.PRINTER_CLASS);
        assertEquals(0, SimBus.completeAtOnce(printer, false));
        assertEquals(0, SimBus.zeroLengthReads(printer, 3));
        assertEquals(0, SimBus.cancelDelay(printer, 25));
        assertEquals(0, SimBus.ignoreCancel(printer, true));
        assertEquals(0, SimBus.setUnplugCode(printer, 1167));
        assertEquals(0, SimBus.stream(printer, null, 1000));
        assertEquals(0, SimBus.stream(printer, new byte[] {1, 2}, 0));
        assertEquals(0, SimBus.stopStream(printer));
        assertEquals(0L, SimBus.streamTaken(printer), "nobody has read");

        int unknown = printer + 1000;
        assertEquals(-1, SimBus.completeAtOnce(unknown, true));
        assertEquals(-1, SimBus.stream(unknown, null, 0));
        assertEquals(-1L, SimBus.streamTaken(unknown));
        assertEquals(-1, SimBus.setUnplugCode(printer, 0));
        assertEquals(-1, SimBus.stream(printer, null, -1));
    }

    @Test
    void aStreamReachesTheRawReadPipeInOrder() {
        int printer = SimBus.attachDefault(SimBus.NATIVE);
        assertEquals(0, SimBus.rawOpen(printer));
        assertEquals(0, SimBus.stream(printer, null, 0));
        byte[] buffer = new byte[600];
        assertEquals(600, SimBus.rawRead(printer, buffer));
        for (int i = 0; i < buffer.length; i++) {
            assertEquals(i % 251, buffer[i] & 0xFF, "byte " + i);
        }
        assertEquals(600L, SimBus.streamTaken(printer));
        assertEquals(0, SimBus.rawClose(printer));
    }
}
