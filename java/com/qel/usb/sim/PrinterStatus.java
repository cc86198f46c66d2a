package com.qel.usb.sim;

import java.util.ArrayList;
import java.util.List;

/**
 * The ESC/POS real-time status requests DLE EOT n (10 04 n) and what their one-byte answers mean, for drivers and
 * tests. The bit layout is in docs/simulator.md; the virtual receipt printer of {@link SimBus} answers with it.
 *
 * <p>Every answer has bits 1 and 4 set and bits 0 and 7 clear. The decoders take the answer as an int from 0 to 255
 * ({@code buffer[0] & 0xFF}) and say nothing about a byte that is not a status byte.
 */
public final class PrinterStatus {
    /** DLE EOT 1: online or offline, drawer pin, feed button. */
    public static final int PRINTER = 1;
    /** DLE EOT 2: why the printer is offline. */
    public static final int OFFLINE_CAUSE = 2;
    /** DLE EOT 3: which error occurred. */
    public static final int ERROR_CAUSE = 3;
    /** DLE EOT 4: the roll paper sensor. */
    public static final int PAPER_SENSOR = 4;

    private PrinterStatus() {
    }

    /** The request DLE EOT n. */
    public static byte[] request(int n) {
        if (n < PRINTER || n > PAPER_SENSOR) {
            throw new IllegalArgumentException("DLE EOT n takes n from 1 to 4: " + n);
        }
        return new byte[] {0x10, 0x04, (byte) n};
    }

    /** The request's name, for messages. */
    public static String name(int n) {
        switch (n) {
            case PRINTER:
                return "printer";
            case OFFLINE_CAUSE:
                return "offline cause";
            case ERROR_CAUSE:
                return "error cause";
            default:
                return "paper sensor";
        }
    }

    /** Bits 1 and 4 set and bits 0 and 7 clear; anything else is not a status byte. */
    public static boolean isStatusByte(int answer) {
        return (answer & 0x93) == 0x12;
    }

    /** DLE EOT 1, bit 3. */
    public static boolean offline(int printer) {
        return bit(printer, 3);
    }

    /** DLE EOT 1, bit 2: pin 3 of the drawer kick-out connector is high. */
    public static boolean drawerPinHigh(int printer) {
        return bit(printer, 2);
    }

    /** DLE EOT 1, bit 5: the printer waits for the host's recovery request after a recoverable error. */
    public static boolean waitingForRecovery(int printer) {
        return bit(printer, 5);
    }

    /** DLE EOT 1, bit 6. */
    public static boolean feedButtonPressed(int printer) {
        return bit(printer, 6);
    }

    /** DLE EOT 2, bit 2. */
    public static boolean coverOpen(int offlineCause) {
        return bit(offlineCause, 2);
    }

    /** DLE EOT 2, bit 3: paper is being fed by the feed button. */
    public static boolean feedingByButton(int offlineCause) {
        return bit(offlineCause, 3);
    }

    /** DLE EOT 2, bit 5: printing stopped at the paper end. */
    public static boolean stoppedAtPaperEnd(int offlineCause) {
        return bit(offlineCause, 5);
    }

    /** DLE EOT 2, bit 6: an error occurred; DLE EOT 3 tells which. */
    public static boolean errorOccurred(int offlineCause) {
        return bit(offlineCause, 6);
    }

    /** DLE EOT 3, bit 3. */
    public static boolean autocutterError(int errorCause) {
        return bit(errorCause, 3);
    }

    /** DLE EOT 3, bit 5. */
    public static boolean unrecoverableError(int errorCause) {
        return bit(errorCause, 5);
    }

    /** DLE EOT 3, bit 6: for instance an overheated head, which ends by itself. */
    public static boolean autoRecoverableError(int errorCause) {
        return bit(errorCause, 6);
    }

    /** DLE EOT 4, bits 2 and 3 (printers set both). */
    public static boolean paperNearEnd(int paperSensor) {
        return bit(paperSensor, 2) || bit(paperSensor, 3);
    }

    /** DLE EOT 4, bits 5 and 6 (printers set both). */
    public static boolean paperOut(int paperSensor) {
        return bit(paperSensor, 5) || bit(paperSensor, 6);
    }

    /** What an answer to DLE EOT n says, in words. */
    public static String describe(int n, int answer) {
        if (!isStatusByte(answer)) {
            return "not a status byte";
        }
        List<String> says = new ArrayList<>();
        switch (n) {
            case PRINTER:
                says.add(offline(answer) ? "offline" : "online");
                says.add(drawerPinHigh(answer) ? "drawer pin 3 high" : "drawer pin 3 low");
                addIf(says, waitingForRecovery(answer), "waiting for online recovery");
                addIf(says, feedButtonPressed(answer), "feed button pressed");
                break;
            case OFFLINE_CAUSE:
                says.add(coverOpen(answer) ? "cover open" : "cover closed");
                addIf(says, feedingByButton(answer), "paper fed by the feed button");
                addIf(says, stoppedAtPaperEnd(answer), "stopped at paper end");
                addIf(says, errorOccurred(answer), "error");
                break;
            case ERROR_CAUSE:
                addIf(says, autocutterError(answer), "autocutter error");
                addIf(says, unrecoverableError(answer), "unrecoverable error");
                addIf(says, autoRecoverableError(answer), "automatically recoverable error");
                addIf(says, says.isEmpty(), "no error");
                break;
            default:
                if (paperOut(answer)) {
                    says.add("paper out");
                } else if (paperNearEnd(answer)) {
                    says.add("paper near its end");
                } else {
                    says.add("paper present");
                }
                break;
        }
        return String.join(", ", says);
    }

    private static void addIf(List<String> says, boolean condition, String text) {
        if (condition) {
            says.add(text);
        }
    }

    private static boolean bit(int answer, int index) {
        return (answer & (1 << index)) != 0;
    }
}
