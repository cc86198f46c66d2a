package com.qel.usb.demo;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;

/** Composes a receipt in ESC/POS, as a JavaPOS receipt-printer service sends it. */
final class ReceiptBuilder {
    /** Characters per line on 80 mm paper in the standard font. */
    static final int WIDTH = 42;

    private static final int ESC = 0x1B;
    private static final int GS = 0x1D;

    private final ByteArrayOutputStream bytes = new ByteArrayOutputStream();

    ReceiptBuilder initialise() {
        return command(ESC, '@');
    }

    ReceiptBuilder left() {
        return command(ESC, 'a', 0);
    }

    ReceiptBuilder center() {
        return command(ESC, 'a', 1);
    }

    ReceiptBuilder right() {
        return command(ESC, 'a', 2);
    }

    ReceiptBuilder bold(boolean on) {
        return command(ESC, 'E', on ? 1 : 0);
    }

    ReceiptBuilder line(String text) {
        byte[] ascii = (text + "\n").getBytes(StandardCharsets.US_ASCII);
        bytes.write(ascii, 0, ascii.length);
        return this;
    }

    /** One line with the left text at the start and the right text at the end. */
    ReceiptBuilder columns(String left, String right) {
        int gap = Math.max(1, WIDTH - left.length() - right.length());
        return line(left + " ".repeat(gap) + right);
    }

    ReceiptBuilder rule() {
        return line("-".repeat(WIDTH));
    }

    ReceiptBuilder feed(int lines) {
        return command(ESC, 'd', lines);
    }

    /** A partial cut, leaving the receipt hanging by a thread. */
    ReceiptBuilder cut() {
        return command(GS, 'V', 1);
    }

    byte[] toBytes() {
        return bytes.toByteArray();
    }

    private ReceiptBuilder command(int... values) {
        for (int value : values) {
            bytes.write(value);
        }
        return this;
    }
}
