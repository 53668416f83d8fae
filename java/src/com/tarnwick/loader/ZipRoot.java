package com.tarnwick.loader;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.MalformedURLException;
import java.net.URI;
import java.net.URL;
import java.net.URLStreamHandler;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentHashMap;
import java.util.jar.JarFile;

/**
 * A ZIP archive seen as a class-path root: a jar file, the outer archive, a
 * stored jar nested in it, or a directory of the outer archive such as
 * "BOOT-INF/classes/" (then every name is looked up under that prefix).
 */
final class ZipRoot extends ClassPathRoot {

    private static final URLStreamHandler HANDLER = new com.tarnwick.loader.jar.Handler();

    /**
     * The archives opened so far, by archive path. Each is opened once and kept
     * for the life of the process, so class loading and URL connections share
     * one parsed directory per archive.
     */
    private static final ConcurrentHashMap<String, ZipRoot> ROOTS = new ConcurrentHashMap<String, ZipRoot>();

    private final ZipCatalog catalog;
    private final String prefix;
    private final String archivePath;
    private final File file;
    private final URL url;
    /** The JarFile view that jar connections hand out, made on first request. */
    volatile JarFile jarFile;

    ZipRoot(ZipCatalog catalog, String prefix, String archivePath) throws MalformedURLException {
        this.catalog = catalog;
        this.prefix = prefix;
        this.archivePath = archivePath;
        this.file = catalog.file();
        this.url = new URL("jar", "", -1, archivePath + SEPARATOR, HANDLER);
    }

    /**
     * The archive at an archive path such as "file:/app/run!/BOOT-INF/lib/a.jar":
     * a file URL followed by one "!/name" per level of nesting.
     */
    static ZipRoot of(String archivePath) throws IOException {
        ZipRoot known = ROOTS.get(archivePath);
        if (known != null) {
            return known;
        }
        ZipRoot opened;
        int separator = archivePath.lastIndexOf(SEPARATOR);
        if (separator < 0) {
            opened = new ZipRoot(ZipCatalog.open(toFile(archivePath)), "", archivePath);
        } else {
            ZipRoot parent = of(archivePath.substring(0, separator));
            String name = decode(archivePath.substring(separator + SEPARATOR.length()));
            opened = parent.child(name, archivePath);
        }
        known = ROOTS.putIfAbsent(archivePath, opened);
        return known == null ? opened : known;
    }

    /** Makes a URL of the jar scheme that this layer's handler serves. */
    static URL jarUrl(String file) throws MalformedURLException {
        return new URL("jar", "", -1, file, HANDLER);
    }

    /** The archive path: a file URL followed by one "!/name" per nesting level. */
    String archivePath() {
        return archivePath;
    }

    File file() {
        return file;
    }

    boolean isWholeFile() {
        return prefix.isEmpty() && archivePath.indexOf(SEPARATOR) < 0;
    }

    @Override
    URL url() {
        return url;
    }

    int indexOf(String name) {
        return catalog.indexOf(prefix.isEmpty() ? name : prefix.concat(name));
    }

    @Override
    boolean contains(String name) {
        return indexOf(name) >= 0;
    }

    @Override
    byte[] read(String name) throws IOException {
        int i = indexOf(name);
        return i < 0 ? null : catalog.read(i);
    }

    @Override
    InputStream open(String name) throws IOException {
        int i = indexOf(name);
        return i < 0 ? null : catalog.open(i);
    }

    @Override
    URL resourceUrl(String name) throws MalformedURLException {
        return jarUrl(archivePath + SEPARATOR + encode(name));
    }

    /**
     * Opens an archive one level down: a stored jar entry read in place, or a
     * directory of this archive. A compressed jar cannot be read in place and is
     * refused.
     */
    ZipRoot child(String name, String childPath) throws IOException {
        int i = name.endsWith("/") ? -1 : indexOf(name);
        if (i >= 0) {
            if (catalog.method(i) != ZipCatalog.STORED) {
                throw Failures.zip("Nested jar " + prefix + name + " in " + archivePath
                        + " is compressed; nested jars must be stored without compression");
            }
            return new ZipRoot(catalog.nested(i), "", childPath);
        }
        String directory = prefix + (name.endsWith("/") ? name : name + "/");
        if (catalog.hasEntriesUnder(directory)) {
            return new ZipRoot(catalog, directory, childPath);
        }
        throw Failures.notFound("No nested archive " + name + " in " + archivePath);
    }

    /** Names of the entries of this root, relative to it. */
    List<String> names() {
        List<String> names = new ArrayList<String>();
        for (int i = 0, n = catalog.size(); i < n; i++) {
            String name = relativeName(i);
            if (name != null) {
                names.add(name);
            }
        }
        return names;
    }

    /** The name of catalog entry i relative to this root, or null when it lies outside. */
    String relativeName(int i) {
        String name = catalog.name(i);
        if (prefix.isEmpty()) {
            return name.isEmpty() ? null : name;
        }
        return name.length() > prefix.length() && name.startsWith(prefix) ? name.substring(prefix.length()) : null;
    }

    int catalogSize() {
        return catalog.size();
    }

    ZipCatalog catalog() {
        return catalog;
    }

    // Text forms used in nested URLs: "jar:" + archive path + "!/" + entry,
    // where the archive path is a file URL followed by one "!/name" per level
    // of nesting. They live here, not in a class of their own, because every
    // class on the start path costs a load and a verification.

    static final String SEPARATOR = "!/";

    /**
     * The file URL text of a file, as the JDK writes it. Plain paths are
     * written here directly: the JDK's way parses the text it has just built as
     * a URI, which is slow while everything still runs interpreted.
     */
    static String fileUrlText(File file) {
        File absolute = file.getAbsoluteFile();
        String path = absolute.getPath();
        if (File.separatorChar == '/' && path.startsWith("/") && !path.startsWith("//") && isPlainPath(path)) {
            return absolute.isDirectory() && !path.endsWith("/") ? "file:" + path + "/" : "file:" + path;
        }
        return absolute.toURI().toString();
    }

    /** Whether a path needs no escaping in a URI: its characters stand as they are. */
    private static boolean isPlainPath(String path) {
        for (int i = 0, n = path.length(); i < n; i++) {
            char c = path.charAt(i);
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || "/-_.~*'()!:@&=+$,;".indexOf(c) >= 0)) {
                return false;
            }
        }
        return true;
    }

    static File toFile(String fileUrlText) {
        if (File.separatorChar == '/' && fileUrlText.startsWith("file:/") && !fileUrlText.startsWith("file://")
                && isPlainPath(fileUrlText.substring(5))) {
            // Nothing escaped and nothing to resolve: the path is the text after the scheme.
            return new File(fileUrlText.substring(5));
        }
        try {
            return new File(new URI(fileUrlText));
        } catch (Exception e) {
            // Not a strict URI (spaces, a stray authority): take the path as it stands.
            String path = fileUrlText.regionMatches(true, 0, "file:", 0, 5) ? fileUrlText.substring(5) : fileUrlText;
            if (path.startsWith("//")) {
                int slash = path.indexOf('/', 2);
                path = slash < 0 ? "" : path.substring(slash);
            }
            return new File(decode(path));
        }
    }

    /** Percent-encodes the characters that may not stand in a URL path, and "!". */
    static String encode(String name) {
        int n = name.length();
        int i = 0;
        while (i < n && isPlain(name.charAt(i))) {
            i++;
        }
        if (i == n) {
            return name;
        }
        StringBuilder out = new StringBuilder(n + 16).append(name, 0, i);
        byte[] bytes = name.substring(i).getBytes(StandardCharsets.UTF_8);
        for (byte b : bytes) {
            char c = (char) (b & 0xff);
            if (c < 0x80 && isPlain(c)) {
                out.append(c);
            } else {
                out.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
                        .append(Character.toUpperCase(Character.forDigit(c & 0xf, 16)));
            }
        }
        return out.toString();
    }

    private static boolean isPlain(char c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            return true;
        }
        return "/-_.~$&'()*+,;=:@".indexOf(c) >= 0;
    }

    static String decode(String text) {
        if (text.indexOf('%') < 0) {
            return text;
        }
        int n = text.length();
        StringBuilder out = new StringBuilder(n);
        int i = 0;
        while (i < n) {
            if (!isEscape(text, i)) {
                out.append(text.charAt(i));
                i++;
                continue;
            }
            // A run of escapes is one UTF-8 byte sequence.
            ByteArrayOutputStream run = new ByteArrayOutputStream();
            while (isEscape(text, i)) {
                run.write(Character.digit(text.charAt(i + 1), 16) << 4 | Character.digit(text.charAt(i + 2), 16));
                i += 3;
            }
            out.append(new String(run.toByteArray(), StandardCharsets.UTF_8));
        }
        return out.toString();
    }

    private static boolean isEscape(String text, int i) {
        return i + 2 < text.length() && text.charAt(i) == '%'
                && Character.digit(text.charAt(i + 1), 16) >= 0
                && Character.digit(text.charAt(i + 2), 16) >= 0;
    }

    @Override
    public String toString() {
        return archivePath;
    }
}
