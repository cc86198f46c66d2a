package com.qel.usb;

import com.qel.usb.sim.SimBus;
import org.junit.jupiter.api.extension.AfterEachCallback;
import org.junit.jupiter.api.extension.BeforeEachCallback;
import org.junit.jupiter.api.extension.ExtensionContext;

/**
 * Fails a test after which the platform layer holds misuse reports, as every C++ test does: for the tests that keep
 * their own fixtures rather than the kit's extension. Reports found before a test are told there too, so that none
 * is lost between two tests. A test that provokes a misuse on purpose takes the reports itself.
 */
public final class MisuseCheck implements BeforeEachCallback, AfterEachCallback {
    @Override
    public void beforeEach(ExtensionContext context) {
        failOnReports("before this test began");
    }

    @Override
    public void afterEach(ExtensionContext context) {
        failOnReports("during the test");
    }

    private static void failOnReports(String when) {
        String[] reports = SimBus.takeMisuseReports();
        if (reports.length > 0) {
            throw new AssertionError("misuse of Win32 reported " + when + ": " + String.join("; ", reports));
        }
    }
}
