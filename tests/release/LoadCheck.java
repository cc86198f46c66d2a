import com.qel.usb.NativeLibrary;
import com.qel.usb.UsbPort;

/**
 * A driver's first call, run against a release's jars alone: opens the write pipe and prints what came back and
 * where the library was loaded from. "sim" plugs in a simulated printer first (the kit's jar must be on the class
 * path). Exits 0 when the library loaded; a load failure's message goes to stderr.
 */
public final class LoadCheck {
    private LoadCheck() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals("sim")) {
            Class.forName("com.qel.usb.sim.SimBus").getMethod("attachDefault", int.class).invoke(null, 1);
        }
        UsbPort usb = new UsbPort();
        int result = usb.usbInitPipe(usb, usb.usbGetGenericWriteValue());
        System.out.println("usbInitPipe: " + result + ", last error " + usb.usbGetLastError());
        System.out.println("loaded from: " + NativeLibrary.loadedFrom());
    }
}
