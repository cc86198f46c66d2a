package com.example.pos;

import com.qel.usb.UsbPort;
import java.nio.charset.StandardCharsets;

/** A receipt-printer driver's USB link in miniature: open both pipes, print, ask the status, close. */
public class ReceiptDriver {
    private final UsbPort usb = new UsbPort();
    private final UsbPort port = new UsbPort();

    /** Opens both pipes; true when a supported printer is there. */
    public boolean open() {
        return usb.usbInitPipe(port, usb.usbGetGenericWriteValue()) >= 0
                && usb.usbInitPipe(port, usb.usbGetGenericReadValue()) >= 0;
    }

    /** 0, or the Windows error code the write ended with. */
    public int print(String text) {
        return usb.usbWriteOutputPipe(port.hWritePort, text.getBytes(StandardCharsets.US_ASCII));
    }

    /** The printer's answer to DLE EOT n, or -1. */
    public int status(int n) {
        if (usb.usbWriteOutputPipe(port.hWritePort, new byte[] {0x10, 0x04, (byte) n}) != 0) {
            return -1;
        }
        byte[] answer = new byte[1];
        return usb.usbReadInputPipe(port.hReadPort, answer) == 1 ? answer[0] & 0xFF : -1;
    }

    public void close() {
        usb.usbClosePipe(port.hReadPort);
        usb.usbClosePipe(port.hWritePort);
    }
}
