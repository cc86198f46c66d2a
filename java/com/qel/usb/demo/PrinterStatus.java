package com.qel.usb.demo;

import java.util.ArrayList;
import java.util.List;

/** The ESC/POS real-time status requests DLE EOT n and what their answers mean. */
final class PrinterStatus {
    static final int PRINTER = 1;
    static final int OFFLINE_CAUSE = 2;
    static final int ERROR_CAUSE = 3;
    static final int PAPER_SENSOR = 4;

    private PrinterStatus() {
    }

    static byte[] request(int n) {
        return new byte[] {0x10, 0x04, (byte) n};
    }

    static String name(int n) {
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

    /** Every answer has bits 1 and 4 set and bits 0 and 7 clear; anything else is not a status byte. */
    static boolean isStatusByte(int answer) {
        return (answer & 0x93) == 0x12;
    }

    /** What an answer to DLE EOT n says, in words. */
    static String describe(int n, int answer) {
        if (!isStatusByte(answer)) {
            return "not a status byte";
        }
        List<String> says = new ArrayList<>();
        switch (n) {
            case PRINTER:
                says.add(bit(answer, 3) ? "offline" : "online");
                says.add(bit(answer, 2) ? "drawer pin 3 high" : "drawer pin 3 low");
                if (bit(answer, 5)) {
                    says.add("waiting for online recovery");
                }
                if (bit(answer, 6)) {
                    says.add("feed button pressed");
                }
                break;
            case OFFLINE_CAUSE:
                says.add(bit(answer, 2) ? "cover open" : "cover closed");
                if (bit(answer, 3)) {
                    says.add("paper fed by the feed button");
                }
                if (bit(answer, 5)) {
                    says.add("stopped at paper end");
                }
                if (bit(answer, 6)) {
                    says.add("error");
                }
                break;
            case ERROR_CAUSE:
                if (bit(answer, 3)) {
                    says.add("autocutter error");
                }
                if (bit(answer, 5)) {
                    says.add("unrecoverable error");
                }
                if (bit(answer, 6)) {
                    says.add("automatically recoverable error");
                }
                if (says.isEmpty()) {
                    says.add("no error");
                }
                break;
            default:
                if (bit(answer, 5) || bit(answer, 6)) {
                    says.add("paper out");
                } else if (bit(answer, 2) || bit(answer, 3)) {
                    says.add("paper near its end");
                } else {
                    says.add("paper present");
                }
                break;
        }
        return String.join(", ", says);
    }

    private static boolean bit(int answer, int index) {
        return (answer & (1 << index)) != 0;
    }
}
