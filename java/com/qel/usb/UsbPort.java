package com.qel.usb;

/**
 * The USB port of the JavaPOS printer driver: its native methods are the transport library VIRIVOREzu.
 *
 * <p>{@code usbInitPipe} writes the handle of the pipe it opened into {@link #hReadPort} or {@link #hWritePort};
 * the driver passes those values back to the transfer, control and close methods.
 */
public class UsbPort {
    static {
        NativeLibrary.load();
    }

    public int hReadPort;
    public int hWritePort;

    public native int usbInitPipe(Object port, int access);

    public native int usbClosePipe(int handle);

    public native int usbReadInputPipe(int handle, byte[] buffer);

    public native int usbWriteOutputPipe(int handle, byte[] buffer);

    public native int usbGetCommTimeout(int handle);

    public native int usbSetCommTimeout(int handle, int readInterval, int readTotalMultiplier,
            int readTotalConstant, int writeTotalMultiplier, int writeTotalConstant);

    public native int usbPurgeRequest(int handle);

    public native int usbGetGenericReadValue();

    public native int usbGetGenericWriteValue();

    public native int usbGetLastError();

    public native String usbGetErrorString(int code);
}
