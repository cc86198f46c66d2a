package com.qel.usb.bench;

import com.qel.usb.UsbPort;

/** A link opened through the library as the JavaPOS driver opens it: the write pipe, then the read pipe. */
final class Link {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;

    final UsbPort usb = new UsbPort();
    final UsbPort port = new UsbPort();

    static Link open() {
        Link link = new Link();
        if (link.usb.usbInitPipe(link.port, GENERIC_WRITE) < 0 || link.usb.usbInitPipe(link.port, GENERIC_READ) < 0) {
            throw new IllegalStateException("the link did not open: error " + link.usb.usbGetLastError());
        }
        return link;
    }

    int write(byte[] bytes) {
        return usb.usbWriteOutputPipe(port.hWritePort, bytes);
    }

    int read(byte[] buffer) {
        return usb.usbReadInputPipe(port.hReadPort, buffer);
    }

    void close() {
        usb.usbClosePipe(port.hReadPort);
        usb.usbClosePipe(port.hWritePort);
    }
}
