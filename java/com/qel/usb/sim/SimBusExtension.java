package com.qel.usb.sim;

import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import org.junit.jupiter.api.extension.AfterEachCallback;
import org.junit.jupiter.api.extension.BeforeEachCallback;
import org.junit.jupiter.api.extension.ExtensionContext;

/**
 * JUnit 5: every test starts with the library as after loading and an empty simulated bus, and leaves them so,
 * however it ended. Use with {@code @ExtendWith(SimBusExtension.class)} on the test class, or register an instance
 * with a time scale: {@code @RegisterExtension static SimBusExtension bus = new SimBusExtension(0.01);}.
 * {@link SimTimeScale} on a class or method overrides the registered scale.
 *
 * <p>A test that passed fails afterwards when it left behind something a driver must give back: a suspension
 * without its resume, threads of the library or its power window (a printer-class link still open), or native read
 * handles, which only Java holds and no reset closes. The check waits up to 10 s of real time, at every time scale,
 * for threads a close is still ending, leaves out the trace's writer, and the bus is reset whatever it found. A test
 * also fails on the platform layer's reports of Win32 misuse ({@link SimBus#takeMisuseReports}).
 *
 * <p>A write pipe left open on its own is closed by the reset without a report: at a small time scale the library
 * keeps a handle or two of its own until its next start or teardown (a power thread or a cancelled read that
 * outlived the library's scaled wait for it), and the handle count cannot tell those from a write pipe.
 */
public final class SimBusExtension implements BeforeEachCallback, AfterEachCallback {
    private static final ExtensionContext.Namespace NAMESPACE = ExtensionContext.Namespace.create(SimBusExtension.class);
    private static final String HANDLES_AFTER_RESET = "handlesAfterReset";
    private static final int PBT_APMQUERYSUSPEND = 0;
    // Real time, generous: a thread told to stop ends within the library's own bounds of a few seconds.
    private static final long SETTLE_LIMIT_MS = 10_000;

    private final double timeScale;

    public SimBusExtension() {
        this(1.0);
    }

    /** Every test runs the library's delays at {@code timeScale} of real time (1 is real time). */
    public SimBusExtension(double timeScale) {
        if (!(timeScale > 0)) {
            throw new IllegalArgumentException("a time scale is above 0: " + timeScale);
        }
        this.timeScale = timeScale;
    }

    @Override
    public void beforeEach(ExtensionContext context) {
        SimBus.reset();
        context.getStore(NAMESPACE).put(HANDLES_AFTER_RESET, SimBus.openHandles());
        SimBus.timeScale(scaleFor(context));
        // Reports made since the last check (by code that ran outside a test with this extension, or by the reset)
        // belong to no test; they are told at the first test that can tell them rather than lost.
        String[] earlier = SimBus.takeMisuseReports();
        if (earlier.length > 0) {
            throw new AssertionError(
                    "misuse of Win32 reported before this test began: " + String.join("; ", earlier));
        }
    }

    @Override
    public void afterEach(ExtensionContext context) {
        // A test that failed already has its own story; what it left behind would only bury it. A misuse is told
        // beside it, as it may be the cause.
        Optional<Throwable> failure = context.getExecutionException();
        if (failure.isPresent()) {
            SimBus.reset();
            AssertionError misuse = misuseFound();
            if (misuse != null) {
                failure.get().addSuppressed(misuse);
            }
            return;
        }
        List<String> left;
        try {
            left = awaitNothingRunning();
        } finally {
            SimBus.reset();
        }
        Integer handlesAfterReset = context.getStore(NAMESPACE).get(HANDLES_AFTER_RESET, Integer.class);
        int javaHandles = SimBus.openHandles() - (handlesAfterReset == null ? 0 : handlesAfterReset);
        if (javaHandles > 0) {
            left.add(javaHandles + " open handle(s) of native read pipes (close every read pipe with usbClosePipe)");
        }
        AssertionError misuse = misuseFound();
        if (!left.isEmpty()) {
            AssertionError leftBehind =
                    new AssertionError("the test left the library holding " + String.join("; ", left));
            if (misuse != null) {
                leftBehind.addSuppressed(misuse);
            }
            throw leftBehind;
        }
        if (misuse != null) {
            throw misuse;
        }
    }

    // Taken after the reset, so that a misuse in the library's teardown of what the test left counts as the test's.
    private static AssertionError misuseFound() {
        String[] reports = SimBus.takeMisuseReports();
        if (reports.length == 0) {
            return null;
        }
        return new AssertionError("the library misused Win32 during the test (" + reports.length + " report(s)): "
                + String.join("; ", reports));
    }

    private double scaleFor(ExtensionContext context) {
        Optional<SimTimeScale> onMethod = context.getTestMethod().map(method -> method.getAnnotation(SimTimeScale.class));
        if (onMethod.isPresent()) {
            return checkedScale(onMethod.get());
        }
        Optional<SimTimeScale> onClass = context.getTestClass().map(type -> type.getAnnotation(SimTimeScale.class));
        return onClass.isPresent() ? checkedScale(onClass.get()) : timeScale;
    }

    private static double checkedScale(SimTimeScale annotation) {
        if (!(annotation.value() > 0)) {
            throw new IllegalArgumentException("a time scale is above 0: " + annotation.value());
        }
        return annotation.value();
    }

    // Threads end by themselves after a test: the bus's timer, and a power thread that a close told to quit (with
    // its window) but did not wait for at a small time scale. So what is still running is looked at again until
    // nothing is, and each look judges on what it saw, never on counts read at different moments: a thread may end
    // between two reads. The bound is real time and the same at every time scale, as a busy machine slows the end of
    // a thread whatever the library's delays are scaled to. A suspension stays, so it is reported at once.
    private static List<String> awaitNothingRunning() {
        long deadline = System.nanoTime() + SETTLE_LIMIT_MS * 1_000_000;
        List<String> left = stillRunning();
        while (!left.isEmpty() && !SimBus.suspended() && System.nanoTime() < deadline) {
            pause();
            left = stillRunning();
        }
        return left;
    }

    private static List<String> stillRunning() {
        List<String> left = new ArrayList<>();
        if (SimBus.suspended()) {
            left.add("a suspension (deliver SimBus.power(7) and wait with SimBus.awaitResumed)");
        }
        int threads = SimBus.liveThreads();
        if (threads > 0) {
            left.add(threads + " running thread(s) (a printer-class link or its power thread is still up)");
        }
        if (SimBus.power(PBT_APMQUERYSUSPEND) > 0) {
            left.add("its power window (a printer-class read pipe is still open)");
        }
        return left;
    }

    private static void pause() {
        try {
            Thread.sleep(5);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted while waiting for the library to settle", e);
        }
    }
}
