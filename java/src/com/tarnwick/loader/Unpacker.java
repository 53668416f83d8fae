package com.tarnwick.loader;

import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.concurrent.ConcurrentHashMap;
import java.util.zip.CRC32;

/**
 * Unpacks a nested jar that the packer marked into the user's cache, for
 * libraries that open the jar their code source names as a file. Only
 * applications with such jars load this class.
 *
 * The copy lives in "nxo/" + the MD5 of the jar's bytes + "/" + its file name
 * below the cache directory, so a new version never meets an old copy. It is
 * written under a temporary name in that directory and renamed into place,
 * so processes that start at once never see a part-written jar; whichever
 * rename comes last leaves the same bytes. Before use, the copy's size and
 * CRC must match the archive's entry.
 */
final class Unpacker {

    /**
     * Copies already checked in this process, by cache path: the archive may be
     * listed more than once (for a system class loader, then for the launch).
     */
    private static final ConcurrentHashMap<String, URL> CHECKED = new ConcurrentHashMap<String, URL>();

    private Unpacker() {
    }

    /**
     * The file URL of the unpacked copy of entry i, or null when it cannot be
     * made; then a line on standard error says why, and the nested copy serves.
     */
    static URL unpack(ZipCatalog archive, int i, byte[] hash) {
        String entry = archive.name(i);
        String fileName = entry.substring(entry.lastIndexOf('/') + 1);
        File directory = new File(cacheDirectory(), "nxo" + File.separator + hex(hash));
        File target = new File(directory, fileName);
        URL known = CHECKED.get(target.getPath());
        if (known != null) {
            return known;
        }
        try {
            if (!matches(target, archive.size(i), archive.crc(i))) {
                write(archive, i, directory, target);
            }
            URL url = target.toURI().toURL();
            CHECKED.put(target.getPath(), url);
            return url;
        } catch (IOException e) {
            System.err.println("nxo: cannot unpack " + entry + " into " + directory + " (" + e
                    + "); loading it from inside the executable instead");
            return null;
        }
    }

    /** %LOCALAPPDATA% on Windows; $XDG_CACHE_HOME, else ~/.cache, elsewhere. */
    private static File cacheDirectory() {
        if (File.separatorChar == '\\') {
            String local = System.getenv("LOCALAPPDATA");
            if (local != null && !local.isEmpty()) {
                return new File(local);
            }
            return new File(System.getProperty("user.home"), "AppData" + File.separator + "Local");
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (xdg != null && xdg.startsWith("/")) {
            return new File(xdg);
        }
        return new File(System.getProperty("user.home"), ".cache");
    }

    private static void write(ZipCatalog archive, int i, File directory, File target) throws IOException {
        if (!directory.isDirectory() && !directory.mkdirs() && !directory.isDirectory()) {
            throw Failures.notFound("cannot create the directory");
        }
        File temporary = File.createTempFile(target.getName() + ".", ".part", directory);
        try {
            InputStream in = archive.open(i);
            try {
                OutputStream out = new FileOutputStream(temporary);
                try {
                    byte[] buffer = new byte[65536];
                    for (int n = in.read(buffer); n >= 0; n = in.read(buffer)) {
                        out.write(buffer, 0, n);
                    }
                } finally {
                    out.close();
                }
            } finally {
                in.close();
            }
            if (!matches(temporary, archive.size(i), archive.crc(i))) {
                throw Failures.zip("the written copy does not match the archive's size and CRC");
            }
            try {
                Files.move(temporary.toPath(), target.toPath(), StandardCopyOption.ATOMIC_MOVE);
            } catch (IOException e) {
                // Where a rename cannot replace a file in use (Windows), another
                // process has just put the same bytes in place.
                if (!matches(target, archive.size(i), archive.crc(i))) {
                    throw e;
                }
            }
        } finally {
            if (temporary.exists() && !temporary.delete()) {
                temporary.deleteOnExit();
            }
        }
    }

    /** Whether a file exists with the given size and CRC-32. */
    private static boolean matches(File file, long size, int crc) throws IOException {
        if (!file.isFile() || file.length() != size) {
            return false;
        }
        CRC32 checksum = new CRC32();
        InputStream in = new FileInputStream(file);
        try {
            byte[] buffer = new byte[65536];
            for (int n = in.read(buffer); n >= 0; n = in.read(buffer)) {
                checksum.update(buffer, 0, n);
            }
        } finally {
            in.close();
        }
        return (int) checksum.getValue() == crc;
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) {
            text.append(Character.forDigit((b >> 4) & 0xf, 16)).append(Character.forDigit(b & 0xf, 16));
        }
        return text.toString();
    }
}
