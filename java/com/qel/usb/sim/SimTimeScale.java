package com.qel.usb.sim;

import java.lang.annotation.ElementType;
import java.lang.annotation.Inherited;
import java.lang.annotation.Retention;
import java.lang.annotation.RetentionPolicy;
import java.lang.annotation.Target;

/**
 * The time scale {@link SimBusExtension} sets after its reset, for a test method or every test of a class (a method's
 * own annotation wins): the library's Sleeps and finite time-outs run at this fraction of real time, so that 0.001
 * turns the 20 s of a resume into 20 ms. See {@link SimBus#timeScale}.
 */
@Retention(RetentionPolicy.RUNTIME)
@Target({ElementType.TYPE, ElementType.METHOD})
@Inherited
public @interface SimTimeScale {
    double value();
}
