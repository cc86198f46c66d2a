package com.qel.usb.bench;

import com.qel.usb.sim.SimBus;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.HashMap;
import java.util.HashSet;
import java.util.Map;
import java.util.Set;

/**
 * Wake-ups of the process's threads while the link is open and the printer silent, with a Java thread waiting in
 * a read as a driver's reader does. A wake-up is a voluntary context switch of a thread (it blocked, so something
 * woke it), counted from /proc/self/task/[tid]/status. The threads that appear when the link opens are the
 * library's.
 */
final class Idle {
    private static final long WINDOW_MS = 10_000;

    private Idle() {
    }

    static void run(PrintStream out) throws Exception {
        out.println("Idle wake-ups per second (" + WINDOW_MS / 1000 + " s windows, printer silent)");
        Map<String, Long> before = switches();
        Thread.sleep(WINDOW_MS);
        Map<String, Long> after = switches();
        double jvmAlone = perSecond(before, after, before.keySet());
        out.println(String.format("  %-44s %8.1f", "whole process, link closed (the JVM alone)", jvmAlone));

        SimBus.reset();
        SimBus.attachDefault(SimBus.PRINTER_CLASS);
        Set<String> jvmThreads = switches().keySet();
        Link link = Link.open();
        Thread reader = new Thread(() -> link.read(new byte[64]), "idle-reader");
        reader.setDaemon(true);
        reader.start();
        Thread.sleep(500);
        Map<String, Long> openBefore = switches();
        Set<String> library = new HashSet<>(openBefore.keySet());
        library.removeAll(jvmThreads);
        String readerTid = tidOf("idle-reader", openBefore.keySet());
        library.remove(readerTid);
        Thread.sleep(WINDOW_MS);
        Map<String, Long> openAfter = switches();

        out.println(String.format("  %-44s %8.1f", "whole process, link open", perSecond(openBefore, openAfter,
                openBefore.keySet())));
        out.println(String.format("  %-44s %8.1f   (%d threads: %s)", "the library's threads (reader, power)",
                perSecond(openBefore, openAfter, library), library.size(), names(library)));
        Set<String> waiting = new HashSet<>();
        if (readerTid != null) {
            waiting.add(readerTid);
        }
        out.println(String.format("  %-44s %8.1f", "the Java thread waiting in usbReadInputPipe",
                perSecond(openBefore, openAfter, waiting)));
        link.close();
        reader.join(10_000);
        SimBus.reset();
    }

    private static double perSecond(Map<String, Long> before, Map<String, Long> after, Set<String> tids) {
        long total = 0;
        for (String tid : tids) {
            if (before.containsKey(tid) && after.containsKey(tid)) {
                total += after.get(tid) - before.get(tid);
            }
        }
        return total * 1000.0 / WINDOW_MS;
    }

    private static String names(Set<String> tids) throws IOException {
        StringBuilder names = new StringBuilder();
        for (String tid : tids) {
            Path comm = Paths.get("/proc/self/task", tid, "comm");
            names.append(names.length() > 0 ? ", " : "").append(tid).append(' ')
                    .append(Files.exists(comm) ? Files.readString(comm).trim() : "?");
        }
        return names.toString();
    }

    private static String tidOf(String name, Set<String> tids) throws IOException {
        for (String tid : tids) {
            Path comm = Paths.get("/proc/self/task", tid, "comm");
            if (Files.exists(comm) && Files.readString(comm).trim().equals(name)) {
                return tid;
            }
        }
        return null;
    }

    /** Context switches so far, by thread id. */
    private static Map<String, Long> switches() throws IOException {
        Map<String, Long> counts = new HashMap<>();
        try (DirectoryStream<Path> tasks = Files.newDirectoryStream(Paths.get("/proc/self/task"))) {
            for (Path task : tasks) {
                long count = 0;
                try {
                    for (String line : Files.readAllLines(task.resolve("status"))) {
                        if (line.startsWith("voluntary_ctxt_switches:")) {
                            count = Long.parseLong(line.substring(line.indexOf(':') + 1).trim());
                        }
                    }
                } catch (IOException gone) {
                    continue;
                }
                counts.put(task.getFileName().toString(), count);
            }
        }
        return counts;
    }
}
