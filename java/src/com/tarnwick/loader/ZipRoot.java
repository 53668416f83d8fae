package com.tarnwick.loader;

import java.io.File;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.InputStream;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLStreamHandler;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentHashMap;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.zip.ZipException;

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
    private static final String MANIFEST_NAME = "META-INF/MANIFEST.MF";

    private final ZipCatalog catalog;
    private final String prefix;
    private final String archivePath;
    private final File file;
    private final URL url;
    private volatile Manifest manifest;
    private volatile boolean manifestRead;
    /** The JarFile view that jar connections hand out, made on first request. */
    volatile JarFile jarFile;

    ZipRoot(ZipCatalog catalog, String prefix, String archivePath) throws MalformedURLException {
        this.catalog = catalog;
        this.prefix = prefix;
        this.archivePath = archivePath;
        this.file = catalog.region().file();
        this.url = new URL("jar", "", -1, archivePath + UrlText.SEPARATOR, HANDLER);
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
        int separator = archivePath.lastIndexOf(UrlText.SEPARATOR);
        if (separator < 0) {
            opened = new ZipRoot(new ZipCatalog(FileRegion.of(UrlText.toFile(archivePath))), "", archivePath);
        } else {
            ZipRoot parent = of(archivePath.substring(0, separator));
            String name = UrlText.decode(archivePath.substring(separator + UrlText.SEPARATOR.length()));
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
        return prefix.isEmpty() && archivePath.indexOf(UrlText.SEPARATOR) < 0;
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
        return jarUrl(archivePath + UrlText.SEPARATOR + UrlText.encode(name));
    }

    @Override
    Manifest manifest() {
        if (!manifestRead) {
            Manifest read = null;
            try {
                InputStream in = open(MANIFEST_NAME);
                if (in != null) {
                    try {
                        read = new Manifest(in);
                    } finally {
                        in.close();
                    }
                }
            } catch (IOException e) {
                // An unreadable manifest counts as none, as for the JDK's class path.
                read = null;
            }
            manifest = read;
            manifestRead = true;
        }
        return manifest;
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
                throw new ZipException("Nested jar " + prefix + name + " in " + archivePath
                        + " is compressed; nested jars must be stored without compression");
            }
            return new ZipRoot(new ZipCatalog(catalog.storedRegion(i)), "", childPath);
        }
        String directory = prefix + (name.endsWith("/") ? name : name + "/");
        if (catalog.hasEntriesUnder(directory)) {
            return new ZipRoot(catalog, directory, childPath);
        }
        throw new FileNotFoundException("No nested archive " + name + " in " + archivePath);
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

    @Override
    public String toString() {
        return archivePath;
    }
}
