package com.qel.usb.demo;

import java.io.PrintStream;

/**
 * A progress bar for a wait of a known usual length. On a terminal it redraws one line; elsewhere (a log, a test)
 * it prints a line at every quarter, so that the output stays readable.
 */
final class ProgressBar {
    private static final int CELLS = 30;

    private final PrintStream out;
    private final boolean redraw;
    private final double expectedSeconds;
    private int quartersShown;

    ProgressBar(PrintStream out, boolean redraw, double expectedSeconds) {
        this.out = out;
        this.redraw = redraw;
        this.expectedSeconds = expectedSeconds;
    }

    void show(double elapsedSeconds, String note) {
        double fraction = Math.min(0.99, elapsedSeconds / expectedSeconds);
        if (redraw) {
            out.print("\r" + bar(fraction) + String.format(" %5.1f s  %s", elapsedSeconds, note));
            out.flush();
            return;
        }
        int quarter = (int) (fraction * 4);
        if (quarter > quartersShown) {
            quartersShown = quarter;
            out.println(bar(fraction) + String.format(" %5.1f s  %s", elapsedSeconds, note));
        }
    }

    void finish(double elapsedSeconds, String note) {
        String line = bar(1.0) + String.format(" %5.1f s  %s", elapsedSeconds, note);
        out.println(redraw ? "\r" + line + "          " : line);
    }

    private static String bar(double fraction) {
        int filled = (int) Math.round(fraction * CELLS);
        return "        [" + "#".repeat(filled) + ".".repeat(CELLS - filled) + "]";
    }
}
