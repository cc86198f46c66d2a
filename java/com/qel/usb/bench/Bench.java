package com.qel.usb.bench;

import java.io.PrintStream;

/**
 * The end-to-end benchmarks of the library on the simulated USB bus, each beside its baseline without the library.
 * Run by bench/run.sh. Arguments name the sections to run (round-trip, receive, write, idle, open-close); none
 * runs them all.
 */
public final class Bench {
    private Bench() {
    }

    public static void main(String[] args) throws Exception {
        PrintStream out = System.out;
        if (selected(args, "round-trip")) {
            StatusRoundTrip.run(out);
            out.println();
        }
        if (selected(args, "receive")) {
            Receive.run(out);
            out.println();
        }
        if (selected(args, "write")) {
            Write.run(out);
            out.println();
        }
        if (selected(args, "open-close")) {
            OpenClose.run(out);
            out.println();
        }
        if (selected(args, "idle")) {
            Idle.run(out);
        }
    }

    private static boolean selected(String[] args, String section) {
        if (args.length == 0) {
            return true;
        }
        for (String arg : args) {
            if (arg.equals(section)) {
                return true;
            }
        }
        return false;
    }
}
