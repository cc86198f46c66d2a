package com.qel.usb.demo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.MisuseCheck;
import com.qel.usb.sim.PrinterStatus;
import com.qel.usb.sim.SimBus;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

@ExtendWith(MisuseCheck.class)
class DemoTest {

    private static String runDemo(String... args) throws Exception {
        SimBus.reset();
        int handlesBefore = SimBus.openHandles();
        PrintStream console = System.out;
        ByteArrayOutputStream captured = new ByteArrayOutputStream();
        System.setOut(new PrintStream(captured, true, StandardCharsets.UTF_8));
        try {
            Demo.main(args);
        } finally {
            System.setOut(console);
        }
        String output = captured.toString(StandardCharsets.UTF_8);
        console.print(output);
        // The power thread of a printer-class link ends shortly after the close, and its handle with it.
        long deadline = System.nanoTime() + 20_000_000_000L;
        while (SimBus.openHandles() > handlesBefore && System.nanoTime() < deadline) {
            Thread.sleep(1);
        }
        assertEquals(handlesBefore, SimBus.openHandles(), "the demo left handles open");
        return output;
    }

    private static int occurrences(String text, String part) {
        return text.split(java.util.regex.Pattern.quote(part), -1).length - 1;
    }

    @Test
    void printsTwoReceiptsAroundASuspendAndResumeOnThePrinterClassTransport() throws Exception {
        String output = runDemo("--fast");
        assertEquals(2, occurrences(output, "Thank you for your visit!"));
        assertEquals(2, occurrences(output, "------------------ cut -------------------"));
        assertTrue(output.contains("printer status 12: online"));
        assertTrue(output.contains("paper sensor status 12: paper present"));
        assertTrue(output.contains("| [1D FF]"), "the suspend command reached the printer");
        assertTrue(output.contains("| [1D 04 02]"), "the resume command reached the printer");
        assertTrue(output.contains("= 269354647  Power Suspended"));
        assertTrue(output.contains("writes accepted again"));
        assertTrue(output.contains("Done:"));
    }

    @Test
    void theNativeTransportPrintsBothReceiptsAndIgnoresThePowerEvents() throws Exception {
        String output = runDemo("--fast", "--native");
        assertEquals(2, occurrences(output, "Thank you for your visit!"));
        assertTrue(output.contains("usbGetCommTimeout(hReadPort)                         = 1000"));
        assertFalse(output.contains("[1D FF]"));
        assertTrue(output.contains("Done:"));
    }

    @Test
    void anUnknownOptionIsRefused() {
        assertThrows(IllegalArgumentException.class, () -> Demo.main(new String[] {"--slow"}));
    }

    @Test
    void statusAnswersOfAPrinterOutOfPaperWithItsCoverOpenAreDecoded() {
        assertEquals("offline, drawer pin 3 low", PrinterStatus.describe(1, 0x1A));
        assertEquals("cover open, stopped at paper end", PrinterStatus.describe(2, 0x36));
        assertEquals("autocutter error, unrecoverable error", PrinterStatus.describe(3, 0x3A));
        assertEquals("paper out", PrinterStatus.describe(4, 0x7E));
        assertEquals("paper near its end", PrinterStatus.describe(4, 0x1E));
        assertEquals("not a status byte", PrinterStatus.describe(1, 0x00));
        assertEquals("not a status byte", PrinterStatus.describe(1, 0x93));
    }
}
