package com.qel.usb.bench;

import java.util.Arrays;

/** Durations in nanoseconds, and their percentiles. */
final class Samples {
    private final long[] nanos;
    private int count;

    Samples(int capacity) {
        nanos = new long[capacity];
    }

    void add(long duration) {
        nanos[count++] = duration;
    }

    /** The value below which the given share of the samples lie (nearest rank). */
    double percentileMicros(double share) {
        long[] sorted = Arrays.copyOf(nanos, count);
        Arrays.sort(sorted);
        int rank = (int) Math.ceil(share * count) - 1;
        return sorted[Math.max(0, Math.min(count - 1, rank))] / 1000.0;
    }

    double percentileMillis(double share) {
        return percentileMicros(share) / 1000.0;
    }
}
