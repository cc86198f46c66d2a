package com.qel.usb;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.EnumSet;
import java.util.List;
import java.util.Locale;

/**
 * Loads the native library VIRIVOREzu once per JVM, for {@link UsbPort} and the simulator kit's classes.
 *
 * <p>In this order, stopping at the first that loads:
 * <ol>
 * <li>the file the system property {@value #LIBRARY_PROPERTY} names: then that file only;
 * <li>{@code System.loadLibrary("VIRIVOREzu")}, so that a library on {@code java.library.path} goes on working as it
 * always did;
 * <li>the library carried in the jar for this platform, extracted into a folder per user and release: under the
 * folder the property {@value #EXTRACT_PROPERTY} names, or else {@code java.io.tmpdir}, and then under the user's
 * cache folder. A file already there whose content matches is loaded as it is, since another JVM may have it
 * loaded (Windows cannot replace it then); a new one is written under a temporary name and moved into place in one
 * step, so that JVMs starting together never load a half-written file.
 * </ol>
 * Right after loading, the library's own release must equal these classes' release.
 */
public final class NativeLibrary {
    /** The system property that names the library file to load, and nothing else. */
    public static final String LIBRARY_PROPERTY = "virivorezu.library";
    /** The system property that names the folder to extract the jar's library into, before the others. */
    public static final String EXTRACT_PROPERTY = "virivorezu.extract.dir";

    static final String NAME = "VIRIVOREzu";
    /** Where the jars carry the libraries: the real one per platform, and the simulator kit's. */
    static final String RESOURCE_ROOT = "com/qel/usb/native/";
    static final String SIM_RESOURCE_ROOT = "com/qel/usb/native-sim/";

    private static String loadedFrom;

    private NativeLibrary() {
    }

    /**
     * Loads the library unless it is loaded already.
     *
     * @throws UnsatisfiedLinkError naming every attempt and why it failed, or a mismatch of releases
     */
    public static synchronized void load() {
        if (loadedFrom != null) {
            return;
        }
        String named = System.getProperty(LIBRARY_PROPERTY);
        if (named != null && !named.isEmpty()) {
            loadNamed(named);
            return;
        }
        List<String> attempts = new ArrayList<>();
        if (!loadFromLibraryPath(attempts) && !loadBundled(attempts)) {
            throw failure(attempts);
        }
    }

    private static void loadNamed(String named) {
        String path = new File(named).getAbsolutePath();
        try {
            System.load(path);
        } catch (UnsatisfiedLinkError | SecurityException e) {
            throw new UnsatisfiedLinkError("Cannot load the " + NAME + " library " + path + " that -D"
                    + LIBRARY_PROPERTY + " names: " + e.getMessage() + hint(e.getMessage()));
        }
        accept(path);
    }

    private static boolean loadFromLibraryPath(List<String> attempts) {
        try {
            System.loadLibrary(NAME);
        } catch (UnsatisfiedLinkError e) {
            attempts.add("System.loadLibrary(\"" + NAME + "\") with java.library.path="
                    + System.getProperty("java.library.path") + ": " + e.getMessage() + hint(e.getMessage()));
            return false;
        }
        accept("java.library.path");
        return true;
    }

    /** The jar's library for this platform, extracted into the first folder that takes it and lets it load. */
    private static boolean loadBundled(List<String> attempts) {
        String platform = platform();
        String resource = bundledResource(platform);
        if (resource == null) {
            attempts.add("the jars on the class path carry no library for " + platform + " (looked for "
                    + RESOURCE_ROOT + platform + "/" + System.mapLibraryName(NAME) + ")");
            return false;
        }
        byte[] content;
        try {
            content = readResource(resource);
        } catch (IOException e) {
            attempts.add("reading " + resource + " from the class path: " + e);
            return false;
        }
        String variant = resource.startsWith(SIM_RESOURCE_ROOT) ? platform + "-sim" : platform;
        for (Path root : extractionRoots()) {
            Path file = root.resolve(LibraryVersion.VERSION + "-" + variant).resolve(System.mapLibraryName(NAME));
            try {
                Extraction.extract(content, file);
                System.load(file.toString());
            } catch (IOException | SecurityException e) {
                attempts.add("extracting " + resource + " to " + file + ": " + e);
                continue;
            } catch (UnsatisfiedLinkError e) {
                attempts.add("loading " + file + ": " + e.getMessage() + hint(e.getMessage()));
                continue;
            }
            accept(file.toString());
            return true;
        }
        return false;
    }

    /** Where the loaded library came from: its file, or "java.library.path"; null before {@link #load}. */
    public static synchronized String loadedFrom() {
        return loadedFrom;
    }

    /** The release of these classes. */
    public static String version() {
        return LibraryVersion.VERSION;
    }

    private static native String nativeVersion();

    private static void accept(String source) {
        String nativeVersion;
        try {
            nativeVersion = nativeVersion();
        } catch (UnsatisfiedLinkError e) {
            throw new UnsatisfiedLinkError("The " + NAME + " library from " + source
                    + " does not tell its release, so it is older than these classes of release "
                    + LibraryVersion.VERSION + "; install the library of release " + LibraryVersion.VERSION);
        }
        if (!LibraryVersion.VERSION.equals(nativeVersion)) {
            throw new UnsatisfiedLinkError("The " + NAME + " library from " + source + " is release " + nativeVersion
                    + ", but these classes are release " + LibraryVersion.VERSION
                    + "; install the library and the jar of one release");
        }
        loadedFrom = source;
    }

    /** windows-x86-64, windows-x86, linux-x86-64, ...: the folder of the jar's library for this JVM. */
    static String platform() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        String osName = os.startsWith("windows") ? "windows" : os.startsWith("linux") ? "linux" : os.replace(' ', '_');
        String archName;
        if (arch.equals("amd64") || arch.equals("x86_64")) {
            archName = "x86-64";
        } else if (arch.equals("x86") || arch.matches("i[3-6]86")) {
            archName = "x86";
        } else {
            archName = arch;
        }
        return osName + "-" + archName;
    }

    /** The simulator kit's library when its jar is on the class path, otherwise the real one; null for none. */
    private static String bundledResource(String platform) {
        String file = System.mapLibraryName(NAME);
        for (String root : Arrays.asList(SIM_RESOURCE_ROOT, RESOURCE_ROOT)) {
            String resource = root + platform + "/" + file;
            if (NativeLibrary.class.getClassLoader().getResource(resource) != null) {
                return resource;
            }
        }
        return null;
    }

    private static byte[] readResource(String resource) throws IOException {
        try (InputStream in = NativeLibrary.class.getClassLoader().getResourceAsStream(resource)) {
            if (in == null) {
                throw new IOException("not found");
            }
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            for (int n = in.read(buffer); n >= 0; n = in.read(buffer)) {
                out.write(buffer, 0, n);
            }
            return out.toByteArray();
        }
    }

    /** The folders to extract into, each already per user: the named one or the temp folder, then the cache. */
    static List<Path> extractionRoots() {
        List<Path> roots = new ArrayList<>();
        String user = System.getProperty("user.name", "user").replaceAll("[^A-Za-z0-9._-]", "_");
        String named = System.getProperty(EXTRACT_PROPERTY);
        if (named != null && !named.isEmpty()) {
            roots.add(Paths.get(named).resolve("virivorezu-" + user));
        } else {
            roots.add(Paths.get(System.getProperty("java.io.tmpdir")).resolve("virivorezu-" + user));
        }
        Path cache = userCacheFolder();
        if (cache != null) {
            roots.add(cache.resolve("virivorezu"));
        }
        return roots;
    }

    private static Path userCacheFolder() {
        String localAppData = System.getenv("LOCALAPPDATA");
        if (platform().startsWith("windows") && localAppData != null && !localAppData.isEmpty()) {
            return Paths.get(localAppData);
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (xdg != null && !xdg.isEmpty()) {
            return Paths.get(xdg);
        }
        String home = System.getProperty("user.home");
        return home == null || home.isEmpty() ? null : Paths.get(home, ".cache");
    }

    private static String hint(String message) {
        String text = message == null ? "" : message;
        if (text.contains("failed to map segment") || text.contains("Operation not permitted")) {
            return " (the folder may be mounted noexec: name a folder that allows running programs with -D"
                    + EXTRACT_PROPERTY + "=...)";
        }
        if (text.contains("wrong ELF class") || text.contains("32-bit") || text.contains("64-bit")
                || text.contains("not a valid Win32") || text.contains("machine type")) {
            return " (a 32/64-bit mismatch: this JVM is " + System.getProperty("sun.arch.data.model", "?")
                    + "-bit on " + System.getProperty("os.arch") + " and needs the " + platform() + " library)";
        }
        return "";
    }

    private static UnsatisfiedLinkError failure(List<String> attempts) {
        StringBuilder text = new StringBuilder("Cannot load the " + NAME + " library (release "
                + LibraryVersion.VERSION + ", " + platform() + ", " + System.getProperty("sun.arch.data.model", "?")
                + "-bit JVM). Tried:");
        for (String attempt : attempts) {
            text.append("\n  - ").append(attempt);
        }
        text.append("\nPut the library on java.library.path, name it with -D").append(LIBRARY_PROPERTY)
                .append("=<file>, or put the release jar for this platform on the class path.");
        return new UnsatisfiedLinkError(text.toString());
    }

    /** Writing the library into its folder without disturbing a JVM that has the same file loaded. */
    static final class Extraction {
        private Extraction() {
        }

        /** Makes file hold content: kept when it does already, otherwise replaced in one step. */
        static void extract(byte[] content, Path file) throws IOException {
            Path folder = file.getParent();
            createPrivateFolder(folder.getParent());
            createPrivateFolder(folder);
            if (Files.isRegularFile(file) && Arrays.equals(sha256(Files.readAllBytes(file)), sha256(content))) {
                return;
            }
            Path temporary = Files.createTempFile(folder, file.getFileName().toString(), ".part");
            try {
                Files.write(temporary, content);
                moveIntoPlace(temporary, file, content);
            } finally {
                Files.deleteIfExists(temporary);
            }
        }

        private static void moveIntoPlace(Path temporary, Path file, byte[] content) throws IOException {
            // A virus scanner may hold a fresh file open for a moment on Windows; the move is tried again then.
            FileSystemException last = null;
            for (int attempt = 0; attempt < 10; ++attempt) {
                try {
                    try {
                        Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE,
                                StandardCopyOption.REPLACE_EXISTING);
                    } catch (AtomicMoveNotSupportedException e) {
                        Files.move(temporary, file, StandardCopyOption.REPLACE_EXISTING);
                    }
                    return;
                } catch (FileSystemException e) {
                    // Another JVM may have put the same file there meanwhile and loaded it.
                    if (Files.isRegularFile(file)
                            && Arrays.equals(sha256(Files.readAllBytes(file)), sha256(content))) {
                        return;
                    }
                    last = e;
                    pause(50L * (attempt + 1));
                }
            }
            throw last;
        }

        /** The folder, made if missing, to be reached by its user only where the file system says who may. */
        private static void createPrivateFolder(Path folder) throws IOException {
            boolean posix = folder.getFileSystem().supportedFileAttributeViews().contains("posix");
            if (!Files.isDirectory(folder)) {
                Files.createDirectories(folder);
                if (posix) {
                    Files.setPosixFilePermissions(folder, PosixFilePermissions.fromString("rwx------"));
                }
            } else if (posix) {
                checkPrivate(folder);
            }
            if (!Files.isWritable(folder)) {
                throw new IOException(folder + " is not writable");
            }
        }

        /**
         * In a shared temp folder another user could have made the folder first, and could then swap the file
         * between the check of its content and the load. The owner is compared with that of a file this process
         * makes, since user.name need not name the process's user (a container's unnamed uid).
         */
        private static void checkPrivate(Path folder) throws IOException {
            boolean othersWrite = !Collections.disjoint(Files.getPosixFilePermissions(folder),
                    EnumSet.of(PosixFilePermission.GROUP_WRITE, PosixFilePermission.OTHERS_WRITE));
            Path mine = Files.createTempFile(folder, "owner", ".part");
            try {
                if (othersWrite || !Files.getOwner(folder).equals(Files.getOwner(mine))) {
                    throw new IOException(folder + " belongs to " + Files.getOwner(folder).getName()
                            + " or is writable by others");
                }
            } finally {
                Files.delete(mine);
            }
        }

        static byte[] sha256(byte[] content) {
            try {
                return MessageDigest.getInstance("SHA-256").digest(content);
            } catch (NoSuchAlgorithmException e) {
                throw new IllegalStateException("every Java platform has SHA-256", e);
            }
        }

        private static void pause(long millis) throws IOException {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new IOException("interrupted while moving the library into place", e);
            }
        }
    }
}
