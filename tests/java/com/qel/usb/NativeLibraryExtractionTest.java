package com.qel.usb;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** How the loader puts the jar's library into its folder, without loading anything. */
class NativeLibraryExtractionTest {
    @TempDir
    Path scratch;

    private static final byte[] LIBRARY = "the library of this release".getBytes(StandardCharsets.US_ASCII);

    @Test
    void aMatchingFileIsKeptAsItIsAndAStaleOneReplaced() throws IOException {
        Path file = scratch.resolve("user").resolve("1.0.0-linux-x86-64").resolve("libVIRIVOREzu.so");
        NativeLibrary.Extraction.extract(LIBRARY, file);
        assertArrayEquals(LIBRARY, Files.readAllBytes(file));
        Object identity = Files.readAttributes(file, "unix:ino").get("ino");

        // Another JVM may have this very file loaded: the same content is not written again.
        NativeLibrary.Extraction.extract(LIBRARY, file);
        assertEquals(identity, Files.readAttributes(file, "unix:ino").get("ino"));

        // A stale or damaged file is replaced by a new one moved into place, never rewritten in place.
        Files.write(file, "half a library".getBytes(StandardCharsets.US_ASCII));
        NativeLibrary.Extraction.extract(LIBRARY, file);
        assertArrayEquals(LIBRARY, Files.readAllBytes(file));
        try (Stream<Path> left = Files.list(file.getParent())) {
            assertEquals(1, left.count(), "no temporary file is left behind");
        }
    }

    @Test
    void theFoldersItMakesAreItsUsersOnly() throws IOException {
        Path file = scratch.resolve("user").resolve("release").resolve("libVIRIVOREzu.so");
        NativeLibrary.Extraction.extract(LIBRARY, file);
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file.getParent())));
        assertEquals("rwx------",
                PosixFilePermissions.toString(Files.getPosixFilePermissions(file.getParent().getParent())));
    }

    @Test
    void aFolderOthersMayWriteIsRefused() throws IOException {
        Path shared = Files.createDirectories(scratch.resolve("shared").resolve("release"));
        Files.setPosixFilePermissions(shared, PosixFilePermissions.fromString("rwxrwxrwx"));
        IOException refusal = assertThrows(IOException.class,
                () -> NativeLibrary.Extraction.extract(LIBRARY, shared.resolve("libVIRIVOREzu.so")));
        assertTrue(refusal.getMessage().contains("writable by others"), refusal.getMessage());
    }

    @Test
    void aFolderOfAnotherUserIsRefused() throws IOException {
        Path theirs = Files.createDirectories(scratch.resolve("theirs").resolve("release"));
        Files.setPosixFilePermissions(theirs, PosixFilePermissions.fromString("rwxr-xr-x"));
        UserPrincipal nobody = theirs.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName("nobody");
        try {
            Files.setOwner(theirs, nobody);
        } catch (IOException e) {
            // Only root gives a folder away; root is also the one whom write permissions do not stop.
            Assumptions.abort("cannot give the folder to nobody: " + e);
        }
        IOException refusal = assertThrows(IOException.class,
                () -> NativeLibrary.Extraction.extract(LIBRARY, theirs.resolve("libVIRIVOREzu.so")));
        assertTrue(refusal.getMessage().contains("belongs to nobody"), refusal.getMessage());
    }
}
