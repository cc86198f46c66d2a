package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.qel.usb.sim.SimBus;
import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.extension.ExtendWith;

/**
 * Drives the library as the JavaPOS driver does, against printers on the simulated bus. Every pipe a test opens
 * through {@link #open} is closed after the test, so that each test starts with the link closed.
 */
@ExtendWith(MisuseCheck.class)
abstract class PrinterFixture {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int ERROR_INVALID_HANDLE = 6;
    static final int ERROR_INVALID_PARAMETER = 87;
    static final int ERROR_OPERATION_ABORTED = 995;
    static final int ERROR_POWER_SUSPENDED = 0x100E0697;
    static final long WAIT_LIMIT_MS = 20_000;

    final UsbPort usb = new UsbPort();
    private final List<Integer> openHandles = new ArrayList<>();

    @org.junit.jupiter.api.BeforeEach
    void resetBus() {
        SimBus.reset();
    }

    @org.junit.jupiter.api.AfterEach
    void closeEverything() {
        for (int handle : openHandles) {
            usb.usbClosePipe(handle);
        }
        openHandles.clear();
        SimBus.reset();
    }

    /** Opens a pipe into the port object and remembers its handle for the clean-up; returns the result. */
    int open(UsbPort port, int access) {
        int result = usb.usbInitPipe(port, access);
        if (result >= 0) {
            openHandles.add(access == GENERIC_READ ? port.hReadPort : port.hWritePort);
        }
        return result;
    }

    int close(int handle) {
        openHandles.remove(Integer.valueOf(handle));
        return usb.usbClosePipe(handle);
    }

    /** Everything the host has written to the printer until the expected number of bytes arrived. */
    static byte[] takeAtLeast(int printer, int count) {
        ByteArrayOutputStream taken = new ByteArrayOutputStream();
        waitFor(() -> {
            byte[] bytes = SimBus.take(printer);
            taken.write(bytes, 0, bytes.length);
            return taken.size() >= count;
        }, "the printer to receive " + count + " bytes");
        return taken.toByteArray();
    }

    static void waitFor(BooleanSupplier condition, String what) {
        long deadline = System.nanoTime() + WAIT_LIMIT_MS * 1_000_000;
        while (!condition.getAsBoolean()) {
            if (System.nanoTime() > deadline) {
                fail("timed out waiting for " + what);
            }
            try {
                Thread.sleep(1);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                fail("interrupted waiting for " + what);
            }
        }
    }

    static byte[] bytes(int... values) {
        byte[] result = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            result[i] = (byte) values[i];
        }
        return result;
    }

    static void assertNoInvalidHandle(int handle) {
        assertTrue(handle != 0 && handle != -1, "a handle given to Java is never 0 or -1: " + handle);
    }
}
