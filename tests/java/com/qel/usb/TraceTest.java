package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.api.io.TempDir;

// The trace as a support engineer gets it: VIRIVOREZU_TRACE set before the driver's JVM starts, the library read it
// as it loaded, and the file tells the session's story in order, with the codes of what failed.
@ExtendWith(MisuseCheck.class)
class TraceTest {
    @TempDir Path folder;

    private static int indexAfter(List<String> lines, int from, String part) {
        for (int i = from; i < lines.size(); i++) {
            if (lines.get(i).contains(part)) return i;
        }
        return -1;
    }

    @Test
    void aTracedSessionShowsItsEventsInOrder() throws Exception {
        Path trace = folder.resolve("till.trace");
        String classes =
                new File(TracedDriver.class.getProtectionDomain().getCodeSource().getLocation().toURI()).getPath();
        ProcessBuilder driver = new ProcessBuilder(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp", classes,
                TracedDriver.class.getName());
        driver.environment().put("VIRIVOREZU_TRACE", trace.toString());
        driver.redirectErrorStream(true);
        driver.redirectOutput(folder.resolve("driver.out").toFile());
        Process process = driver.start();
        assertTrue(process.waitFor(120, TimeUnit.SECONDS), "the traced driver ended");
        assertEquals(0, process.exitValue(), Files.readString(folder.resolve("driver.out")));

        List<String> lines = Files.readAllLines(trace);
        assertTrue(lines.get(0).startsWith("# VIRIVOREzu trace"), lines.get(0));
        String[] story = {
            "usbInitPipe.enter access=0x40000000", "detect.chosen type=1", "usbInitPipe.result result=1",
            "usbInitPipe.enter access=0x80000000", "usbInitPipe.result result=1",
            "usbWriteOutputPipe.bytes", "usbWriteOutputPipe.result result=0",
            "usbReadInputPipe.result result=1",
            "reader reader.read_error", "reader.reconnect outcome=connected",
            "power  power.broadcast event=4", "suspend.begin connected=1", "power.command suspend",
            "suspend.end", "usbWriteOutputPipe.result result=269354647 err=269354647",
            "power.broadcast event=7", "resume.begin", "power.command resume", "resume.end reopened=1",
            "usbClosePipe.enter", "usbClosePipe.result result=0"};
        int at = 0;
        for (String part : story) {
            int found = indexAfter(lines, at, part);
            assertTrue(found >= 0, "\"" + part + "\" after line " + at + " of\n" + String.join("\n", lines));
            at = found + 1;
        }
        List<String> unplugErrors =
                lines.stream().filter(l -> l.contains("reader.read_error")).collect(Collectors.toList());
        // 1167 ends the read pending at the unplug, 5 answers a read issued after it.
        String first = unplugErrors.get(0);
        assertTrue(first.contains("err=1167 \"The device is not connected.\"")
                || first.contains("err=5 \"Access is denied.\""), first);
    }
}
