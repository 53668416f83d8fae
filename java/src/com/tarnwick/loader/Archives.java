package com.tarnwick.loader;

import java.io.IOException;
import java.util.concurrent.ConcurrentHashMap;

/**
 * The archives opened so far, by archive path. Each is opened once and kept for
 * the life of the process, so class loading and URL connections share one
 * parsed directory per archive.
 */
final class Archives {

    private static final ConcurrentHashMap<String, ZipRoot> ROOTS = new ConcurrentHashMap<String, ZipRoot>();

    private Archives() {
    }

    /**
     * The archive at an archive path such as "file:/app/run!/BOOT-INF/lib/a.jar":
     * a file URL followed by one "!/name" per level of nesting.
     */
    static ZipRoot root(String archivePath) throws IOException {
        ZipRoot known = ROOTS.get(archivePath);
        if (known != null) {
            return known;
        }
        ZipRoot opened;
        int separator = archivePath.lastIndexOf(UrlText.SEPARATOR);
        if (separator < 0) {
            opened = new ZipRoot(new ZipCatalog(FileRegion.of(UrlText.toFile(archivePath))), "", archivePath);
        } else {
            ZipRoot parent = root(archivePath.substring(0, separator));
            String name = UrlText.decode(archivePath.substring(separator + UrlText.SEPARATOR.length()));
            opened = parent.child(name, archivePath);
        }
        known = ROOTS.putIfAbsent(archivePath, opened);
        return known == null ? opened : known;
    }
}
