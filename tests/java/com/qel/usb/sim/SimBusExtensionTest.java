package com.qel.usb.sim;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.qel.usb.MisuseCheck;
import com.qel.usb.UsbPort;
import java.util.HashMap;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.RepeatedTest;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.api.extension.RegisterExtension;
import org.junit.platform.engine.TestExecutionResult;
import org.junit.platform.engine.discovery.DiscoverySelectors;
import org.junit.platform.launcher.Launcher;
import org.junit.platform.launcher.TestExecutionListener;
import org.junit.platform.launcher.TestIdentifier;
import org.junit.platform.launcher.core.LauncherDiscoveryRequestBuilder;
import org.junit.platform.launcher.core.LauncherFactory;

/**
 * The extension runs driver tests of its own here: the nested classes are such tests, named so that a class-path
 * scan leaves them out, and are run one class at a time through the JUnit launcher.
 */
@ExtendWith(MisuseCheck.class)
class SimBusExtensionTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int PBT_APMSUSPEND = 4;
    static final int PBT_APMRESUMESUSPEND = 7;
    static final long WAIT_LIMIT_MS = 20_000;

    @AfterEach
    void end() {
        SimBus.reset();
    }

    static Map<String, TestExecutionResult> run(Class<?> testClass) {
        Map<String, TestExecutionResult> results = new HashMap<>();
        TestExecutionListener listener = new TestExecutionListener() {
            @Override
            public void executionFinished(TestIdentifier test, TestExecutionResult result) {
                if (test.isTest()) {
                    results.put(test.getDisplayName().replace("()", ""), result);
                }
            }
        };
        Launcher launcher = LauncherFactory.create();
        launcher.execute(LauncherDiscoveryRequestBuilder.request()
                .selectors(DiscoverySelectors.selectClass(testClass)).build(), listener);
        return results;
    }

    static void assertPassed(TestExecutionResult result) {
        assertEquals(TestExecutionResult.Status.SUCCESSFUL, result.getStatus(),
                () -> result.getThrowable().map(Throwable::toString).orElse(""));
    }

    static String failure(TestExecutionResult result) {
        assertEquals(TestExecutionResult.Status.FAILED, result.getStatus(), "the test fails");
        return result.getThrowable().map(Throwable::getMessage).orElse("");
    }

    /** A read on a silent printer-class link ends after 180 s on the time scale: -1 within the bound, or null. */
    static Integer silentReadOnTheTimeScale() throws Exception {
        UsbPort usb = new UsbPort();
        SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
        UsbPort port = new UsbPort();
        assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        CompletableFuture<Integer> read =
                CompletableFuture.supplyAsync(() -> usb.usbReadInputPipe(port.hReadPort, new byte[1]));
        Integer result = null;
        try {
            result = read.get(WAIT_LIMIT_MS, TimeUnit.MILLISECONDS);
        } catch (java.util.concurrent.TimeoutException stillWaiting) {
            // The close below ends it.
        }
        assertEquals(0, usb.usbClosePipe(port.hReadPort));
        return result;
    }

    @ExtendWith(SimBusExtension.class)
    static class LeftBehind {
        final UsbPort usb = new UsbPort();

        @Test
        void printerClassLink() {
            SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
            UsbPort port = new UsbPort();
            assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
            assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
        }

        @Test
        void nativeReadHandle() {
            SimBus.attachDefault(SimBus.NATIVE);
            UsbPort port = new UsbPort();
            assertEquals(0, usb.usbInitPipe(port, GENERIC_READ));
        }

        @Test
        void suspension() {
            SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
            UsbPort port = new UsbPort();
            assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
            assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
            SimBus.power(PBT_APMSUSPEND);
        }

        @Test
        void ownFailure() {
            SimBus.attachDefault(SimBus.NATIVE);
            assertEquals(0, usb.usbInitPipe(new UsbPort(), GENERIC_READ));
            assertEquals(1, 2, "the test's own failure");
        }

        @Test
        void nothing() {
            SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
            UsbPort port = new UsbPort();
            assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
            assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
            assertEquals(0, usb.usbClosePipe(port.hReadPort));
            assertEquals(0, usb.usbClosePipe(port.hWritePort));
        }
    }

    @Test
    void aPassingTestThatLeftSomethingBehindFailsAndTheNextStartsClean() {
        Map<String, TestExecutionResult> results = run(LeftBehind.class);

        String link = failure(results.get("printerClassLink"));
        assertTrue(link.contains("running thread"), link);
        assertTrue(link.contains("power window"), link);

        String handle = failure(results.get("nativeReadHandle"));
        assertTrue(handle.contains("1 open handle"), handle);
        assertFalse(handle.contains("thread"), "the native transport runs no thread: " + handle);

        assertTrue(failure(results.get("suspension")).contains("a suspension"));

        TestExecutionResult own = results.get("ownFailure");
        assertEquals("the test's own failure ==> expected: <1> but was: <2>", failure(own));
        assertEquals(0, own.getThrowable().get().getSuppressed().length, "nothing is added to a failure");

        // A test that closed its link leaves nothing once the library's threads have ended.
        assertPassed(results.get("nothing"));
        assertFalse(SimBus.suspended());
        assertEquals(0, SimBus.liveThreads());
    }

    @ExtendWith(SimBusExtension.class)
    @SimTimeScale(1000)
    static class ScaledByAnnotation {
        @Test
        @SimTimeScale(0.001)
        void methodScaleWins() throws Exception {
            assertEquals(-1, silentReadOnTheTimeScale(), "180 s of waiting took 180 ms");
        }
    }

    static class ScaledByRegistration {
        @RegisterExtension
        static final SimBusExtension BUS = new SimBusExtension(0.001);

        @Test
        void registeredScale() throws Exception {
            assertEquals(-1, silentReadOnTheTimeScale(), "180 s of waiting took 180 ms");
        }
    }

    @Test
    void theTimeScaleComesFromTheMethodTheClassOrTheRegistration() {
        assertPassed(run(ScaledByAnnotation.class).get("methodScaleWins"));
        assertPassed(run(ScaledByRegistration.class).get("registeredScale"));
    }

    // Correct tests at the smallest scale the library's own tests use: the close ends the link at once, but its power
    // thread ends a moment later, and on a busy machine that moment is long.
    @ExtendWith(SimBusExtension.class)
    @SimTimeScale(0.001)
    static class ClosedAtASmallScale {
        @RepeatedTest(120)
        void openAskClose() {
            UsbPort usb = new UsbPort();
            UsbPort port = new UsbPort();
            SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
            assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
            assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
            assertEquals(0, usb.usbWriteOutputPipe(port.hWritePort, PrinterStatus.request(1)));
            assertEquals(1, usb.usbReadInputPipe(port.hReadPort, new byte[1]));
            assertEquals(0, usb.usbClosePipe(port.hReadPort));
        }
    }

    @Test
    void aCorrectTestPassesWhileTheLibraryIsStillEndingItsThreads() {
        Map<String, TestExecutionResult> results = run(ClosedAtASmallScale.class);
        assertEquals(120, results.size());
        results.values().forEach(SimBusExtensionTest::assertPassed);
    }

    // A suspend handler held up by a printer that takes no write and ignores the cancel: the platform layer reports
    // it once the handler's budget has passed (2 s on the time scale, plus 5 s of real time for the handler's own
    // work on a loaded machine), which the hold outlasts.
    @ExtendWith(SimBusExtension.class)
    @SimTimeScale(0.001)
    static class Misused {
        static final long HOLD_BEYOND_BUDGET_MS = 6_000;

        @Test
        void suspendHandlerOverran() throws Exception {
            UsbPort usb = new UsbPort();
            UsbPort port = new UsbPort();
            int printer = SimBus.attachReceiptPrinter(SimBus.PRINTER_CLASS);
            assertEquals(1, usb.usbInitPipe(port, GENERIC_WRITE));
            assertEquals(1, usb.usbInitPipe(port, GENERIC_READ));
            SimBus.stallWrites(printer, true);
            SimBus.ignoreCancel(printer, true);
            Thread suspend = new Thread(() -> SimBus.power(PBT_APMSUSPEND));
            suspend.start();
            long deadline = System.nanoTime() + WAIT_LIMIT_MS * 1_000_000;
            while (SimBus.pendingWrites(printer) < 1) {
                assertTrue(System.nanoTime() < deadline, "the suspend command to be held");
                Thread.sleep(1);
            }
            // Not a wait for another thread: the handler must run longer than its budget, and load only lengthens it.
            Thread.sleep(HOLD_BEYOND_BUDGET_MS);
            SimBus.stallWrites(printer, false);
            suspend.join(WAIT_LIMIT_MS);
            assertFalse(suspend.isAlive());
            Thread resume = new Thread(() -> SimBus.power(PBT_APMRESUMESUSPEND));
            resume.start();
            assertTrue(SimBus.awaitResumed((int) WAIT_LIMIT_MS));
            resume.join(WAIT_LIMIT_MS);
            assertEquals(0, usb.usbClosePipe(port.hReadPort));
        }
    }

    @Test
    void aPassingTestFailsOnTheLibrarysMisuseOfWin32() {
        String misuse = failure(run(Misused.class).get("suspendHandlerOverran"));
        assertTrue(misuse.contains("misused Win32") && misuse.contains("suspend handler still running"), misuse);
        assertEquals(0, SimBus.takeMisuseReports().length, "the extension took the report");
    }
}
