package com.qel.usb.sim;

import org.junit.jupiter.api.extension.AfterEachCallback;
import org.junit.jupiter.api.extension.BeforeEachCallback;
import org.junit.jupiter.api.extension.ExtensionContext;

/**
 * JUnit 5: every test starts with the library as after loading and an empty simulated bus, and leaves them so,
 * however it ended. Use with {@code @ExtendWith(SimBusExtension.class)} on the test class.
 */
public final class SimBusExtension implements BeforeEachCallback, AfterEachCallback {
    @Override
    public void beforeEach(ExtensionContext context) {
        SimBus.reset();
    }

    @Override
    public void afterEach(ExtensionContext context) {
        SimBus.reset();
    }
}
