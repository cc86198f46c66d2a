package com.qel.usb.demo;

import com.qel.usb.UsbPort;
import com.qel.usb.sim.PrinterStatus;
import com.qel.usb.sim.SimBus;
import java.io.PrintStream;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.Locale;

/**
 * The library doing its job: a JavaPOS driver's USB port prints two receipts on a virtual receipt printer on the
 * simulated USB bus, asks its status, and lives through a system suspend and resume in between.
 *
 * <p>Options: {@code --native} puts the printer behind the vendor's native USB driver instead of the USB printer
 * class driver; {@code --fast} runs the library's delays (the resume's 20 seconds) at a hundredth of real time.
 * {@code --real} makes the same calls on the printer plugged into this machine, through the real-device library
 * (no simulated bus, so {@link SimBus} is never touched): one receipt, the status, and the close; the system's own
 * suspend and resume reach the library meanwhile.
 */
public final class Demo {
    private static final int PBT_APMSUSPEND = 4;
    private static final int PBT_APMRESUMESUSPEND = 7;
    private static final int ERROR_POWER_SUSPENDED = 0x100E0697;
    private static final double FAST = 0.01;
    /** The resume handling's own pauses: 15 s before the reopen and 5 s after it. */
    private static final double RESUME_SECONDS = 20.0;
    /** A step that should take moments is given up after this long. */
    private static final long STEP_LIMIT_MS = 120_000;

    private final PrintStream out;
    private final int transport;
    private final double timeScale;
    private final boolean real;
    private final UsbPort usb = new UsbPort();
    private UsbPort port = new UsbPort();
    private int printer;
    private int receiptShown;

    private Demo(PrintStream out, int transport, double timeScale, boolean real) {
        this.out = out;
        this.transport = transport;
        this.timeScale = timeScale;
        this.real = real;
    }

    public static void main(String[] args) throws Exception {
        int transport = SimBus.PRINTER_CLASS;
        double timeScale = 1.0;
        boolean real = false;
        for (String arg : args) {
            if (arg.equals("--native")) {
                transport = SimBus.NATIVE;
            } else if (arg.equals("--fast")) {
                timeScale = FAST;
            } else if (arg.equals("--real")) {
                real = true;
            } else {
                throw new IllegalArgumentException("unknown option " + arg + " (options: --native, --fast, --real)");
            }
        }
        Demo demo = new Demo(System.out, transport, timeScale, real);
        if (!real) {
            demo.run();
            return;
        }
        try {
            demo.runOnThisMachinesPrinter();
        } catch (IllegalStateException failure) {
            System.err.println(failure.getMessage());
            System.err.println("viri_probe shows what the library finds on this machine, and what is missing.");
            System.exit(1);
        }
    }

    private void runOnThisMachinesPrinter() {
        out.println("VIRIVOREzu demo: a JavaPOS driver's USB port and the receipt printer plugged into this machine");
        out.println("  library:   " + System.getProperty("java.library.path"));
        openPipes("Open both pipes (detection picks the transport)", port);
        configure();
        print("Print a receipt", firstReceipt());
        askStatus();
        closePipes();
        out.println();
        out.println("Done: a receipt printed through the library on this machine's printer.");
    }

    private void run() throws InterruptedException {
        SimBus.reset();
        SimBus.timeScale(timeScale);
        try {
            introduce();
            plugIn();
            openPipes("Open both pipes", port);
            configure();
            print("Print a receipt", firstReceipt());
            askStatus();
            suspend();
            resume();
            if (transport == SimBus.PRINTER_CLASS) {
                port = new UsbPort();
                openPipes("Take the handles of the reopened link", port);
            }
            print("Print a second receipt", secondReceipt());
            close();
            out.println();
            out.println("Done: two receipts printed through the library, a suspend and resume survived.");
        } finally {
            SimBus.reset();
        }
    }

    private void introduce() {
        out.println("VIRIVOREzu demo: a JavaPOS driver's USB port and a virtual receipt printer");
        out.println("  transport: " + transportName(transport)
                + (transport == SimBus.PRINTER_CLASS ? " (--native selects the native USB driver)" : ""));
        out.println("  delays:    " + (timeScale == 1.0 ? "real time (--fast runs them at 1/100)"
                : "at " + timeScale + " of real time"));
    }

    private void plugIn() {
        step("Plug in a virtual receipt printer");
        printer = SimBus.attachReceiptPrinter(transport);
        call("SimBus.attachReceiptPrinter(" + transportName(transport) + ")", printer, "printer id");
        check(printer > 0, "the simulated bus refused the printer");
    }

    private void openPipes(String title, UsbPort target) {
        step(title);
        int write = usb.usbGetGenericWriteValue();
        int read = usb.usbGetGenericReadValue();
        call("usbGetGenericWriteValue()", hex(write), "GENERIC_WRITE");
        call("usbGetGenericReadValue()", hex(read), "GENERIC_READ");
        int type = usb.usbInitPipe(target, write);
        call("usbInitPipe(port, " + hex(write) + ")", type,
                typeName(type) + ", hWritePort = " + hex(target.hWritePort));
        check(type >= 0, "the write pipe did not open: " + lastError());
        type = usb.usbInitPipe(target, read);
        call("usbInitPipe(port, " + hex(read) + ")", type, typeName(type) + ", hReadPort = " + hex(target.hReadPort));
        check(type >= 0, "the read pipe did not open: " + lastError());
    }

    private void configure() {
        step("Set the read time-out and purge, as the driver does after opening");
        int result = usb.usbSetCommTimeout(port.hReadPort, 0, 0, 1000, 0, 1000);
        call("usbSetCommTimeout(hReadPort, 0, 0, 1000, 0, 1000)", result, controlMeaning(result));
        result = usb.usbGetCommTimeout(port.hReadPort);
        call("usbGetCommTimeout(hReadPort)", result,
                transport == SimBus.NATIVE ? "read time-out in ms" : controlMeaning(result));
        result = usb.usbPurgeRequest(port.hReadPort);
        call("usbPurgeRequest(hReadPort)", result, controlMeaning(result));
    }

    private void print(String title, byte[] receipt) {
        step(title);
        int result = usb.usbWriteOutputPipe(port.hWritePort, receipt);
        call("usbWriteOutputPipe(hWritePort, " + receipt.length + " bytes)", result, errorText(result));
        check(result == 0, "the receipt was not written");
        showReceipt();
    }

    private void askStatus() {
        step("Ask the printer's status (DLE EOT n)");
        for (int n = PrinterStatus.PRINTER; n <= PrinterStatus.PAPER_SENSOR; n++) {
            int answer = exchangeStatus(n);
            check(PrinterStatus.isStatusByte(answer), "the printer gave no status byte");
        }
    }

    /** Writes DLE EOT n and reads the printer's one-byte answer. */
    private int exchangeStatus(int n) {
        int result = usb.usbWriteOutputPipe(port.hWritePort, PrinterStatus.request(n));
        call("usbWriteOutputPipe(hWritePort, 10 04 0" + n + ")", result, errorText(result));
        check(result == 0, "the status request was not written");
        byte[] answer = new byte[1];
        int read = usb.usbReadInputPipe(port.hReadPort, answer);
        int value = answer[0] & 0xFF;
        call("usbReadInputPipe(hReadPort, byte[1])", read, read == 1 ? String.format("%02X", value) : lastError());
        check(read == 1, "no answer to the status request");
        out.println(String.format("        %s status %02X: %s", PrinterStatus.name(n), value,
                PrinterStatus.describe(n, value)));
        return value;
    }

    private void suspend() {
        step("The system suspends");
        int windows = SimBus.power(PBT_APMSUSPEND);
        call("SimBus.power(PBT_APMSUSPEND)", windows, "power windows that handled it");
        if (transport == SimBus.NATIVE) {
            out.println("        the native transport has no power handling: the link stays as it is");
            return;
        }
        out.println("        the library sent the printer its suspend command 1D FF and released the link");
        showReceipt();
        int result = usb.usbWriteOutputPipe(port.hWritePort, PrinterStatus.request(1));
        call("usbWriteOutputPipe(hWritePort, 10 04 01)", result, errorText(result));
        check(result == ERROR_POWER_SUSPENDED, "a write while suspended was not refused");
        int read = usb.usbReadInputPipe(port.hReadPort, new byte[1]);
        call("usbReadInputPipe(hReadPort, byte[1])", read, lastError());
        int initResult = usb.usbInitPipe(new UsbPort(), usb.usbGetGenericWriteValue());
        call("usbInitPipe(port, GENERIC_WRITE)", initResult, "refused while suspended");
    }

    private void resume() throws InterruptedException {
        step(transport == SimBus.PRINTER_CLASS
                ? "The system resumes: another thread delivers the broadcast, the library reopens the link"
                : "The system resumes");
        Thread broadcaster = new Thread(() -> SimBus.power(PBT_APMRESUMESUSPEND), "resume broadcast");
        broadcaster.setDaemon(true);
        long start = System.nanoTime();
        broadcaster.start();
        out.println("        SimBus.power(PBT_APMRESUMESUSPEND) runs; the driver retries a status request until a"
                + " write is accepted");
        ProgressBar bar = new ProgressBar(out, System.console() != null, RESUME_SECONDS * timeScale);
        long pollMs = Math.max(5, Math.round(100 * timeScale));
        int result;
        for (;;) {
            result = usb.usbWriteOutputPipe(port.hWritePort, PrinterStatus.request(1));
            double elapsed = (System.nanoTime() - start) / 1e9;
            if (result != ERROR_POWER_SUSPENDED) {
                bar.finish(elapsed, result == 0 ? "writes accepted again" : "write failed: " + result);
                break;
            }
            check(elapsed * 1000 < STEP_LIMIT_MS, "the suspended state never ended");
            bar.show(elapsed, "Power Suspended");
            Thread.sleep(pollMs);
        }
        call("usbWriteOutputPipe(hWritePort, 10 04 01)", result, errorText(result));
        check(result == 0, "the link did not come back after the resume");
        byte[] answer = new byte[1];
        int read = usb.usbReadInputPipe(port.hReadPort, answer);
        call("usbReadInputPipe(hReadPort, byte[1])", read,
                read == 1 ? String.format("%02X: %s", answer[0] & 0xFF, PrinterStatus.describe(1, answer[0] & 0xFF))
                        : lastError());
        check(read == 1, "no answer to the status request after the resume");
        broadcaster.join(STEP_LIMIT_MS);
        check(!broadcaster.isAlive(), "the resume broadcast did not return");
        if (transport == SimBus.PRINTER_CLASS) {
            out.println("        the library reopened the link and sent its resume command 1D 04 02 1B 40"
                    + " (1B 40 is ESC @, initialise)");
        }
        showReceipt();
    }

    private void close() {
        closePipes();
        int detached = SimBus.detach(printer);
        call("SimBus.detach(" + printer + ")", detached, "unplugged");
    }

    private void closePipes() {
        step("Close");
        int result = usb.usbClosePipe(port.hReadPort);
        call("usbClosePipe(hReadPort)", result, errorText(result));
        check(result == 0, "the read pipe did not close");
        result = usb.usbClosePipe(port.hWritePort);
        call("usbClosePipe(hWritePort)", result, transport == SimBus.PRINTER_CLASS && result == 0
                ? "success (the first close already released the whole link)" : errorText(result));
        check(result == 0, "the write pipe did not close");
    }

    // ---- The two receipts ----

    private static byte[] firstReceipt() {
        return receipt(1, new String[][] {
            {"2 x Flat white", "6.40"},
            {"1 x Almond croissant", "2.90"},
            {"1 x Orange juice 0.25 l", "2.80"},
        }, "12.10", "2.02");
    }

    private static byte[] secondReceipt() {
        return receipt(2, new String[][] {
            {"1 x Espresso", "2.10"},
            {"1 x Banana bread", "3.20"},
        }, "5.30", "0.88");
    }

    private static byte[] receipt(int number, String[][] items, String total, String vat) {
        String when = LocalDateTime.now().format(DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm", Locale.ROOT));
        ReceiptBuilder receipt = new ReceiptBuilder()
                .initialise()
                .center().bold(true).line("CAFE VIRIVORE").bold(false)
                .line("12 Harbour Street, Portsmouth")
                .line("VAT no. GB 123 4567 89")
                .left().rule()
                .columns(String.format("Receipt %04d", number), when)
                .columns("Till 2", "Cashier: Ana")
                .rule();
        for (String[] item : items) {
            receipt.columns(item[0], item[1]);
        }
        receipt.rule()
                .bold(true).columns("TOTAL EUR", total).bold(false)
                .columns("Card", total)
                .columns("incl. VAT 20%", vat)
                .center().line("").line("Thank you for your visit!")
                .feed(3)
                .cut();
        return receipt.toBytes();
    }

    // ---- Output ----

    private void step(String title) {
        out.println();
        out.println("== " + title);
    }

    private void call(String call, Object result, String meaning) {
        out.println(String.format("    %-52s = %-10s %s", call, result, meaning));
    }

    /** What the printer rendered since the last look, framed like paper; a real printer shows it on paper. */
    private void showReceipt() {
        if (real) {
            return;
        }
        String text = SimBus.receiptText(printer);
        check(text != null, "the printer has no receipt");
        String fresh = text.length() >= receiptShown ? text.substring(receiptShown) : text;
        receiptShown = text.length();
        if (fresh.isEmpty()) {
            return;
        }
        // Emphasised text is marked with '*', which may take two columns beyond the paper's width.
        int width = ReceiptBuilder.WIDTH + 2;
        out.println("      the printer shows:");
        String edge = "      +" + "-".repeat(width + 2) + "+";
        out.println(edge);
        String lines = fresh.endsWith("\n") ? fresh.substring(0, fresh.length() - 1) : fresh;
        for (String line : lines.split("\n", -1)) {
            out.println("      | " + line + " ".repeat(Math.max(0, width - line.length())) + " |");
        }
        out.println(edge);
    }

    private String lastError() {
        int code = usb.usbGetLastError();
        return "last error " + code + ": " + usb.usbGetErrorString(code).trim();
    }

    private String errorText(int code) {
        return code == 0 ? "success" : usb.usbGetErrorString(code).trim();
    }

    private static String controlMeaning(int result) {
        if (result == 1) {
            return "not needed on the printer-class transport";
        }
        return result == 0 ? "success" : "error " + result;
    }

    private static String transportName(int transport) {
        return transport == SimBus.NATIVE ? "NATIVE" : "PRINTER_CLASS";
    }

    private static String typeName(int type) {
        if (type == 0) {
            return "native USB transport";
        }
        return type == 1 ? "printer-class transport" : "failed";
    }

    private static String hex(int value) {
        return String.format("0x%08X", value);
    }

    private static void check(boolean condition, String failure) {
        if (!condition) {
            throw new IllegalStateException("demo failed: " + failure);
        }
    }
}
