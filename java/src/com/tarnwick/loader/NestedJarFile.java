package com.tarnwick.loader;

import java.io.IOException;
import java.io.InputStream;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.List;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;

/**
 * A JarFile over a nested archive, for code that asks a jar connection for its
 * JarFile. A JarFile must be built over a real file, so the base is opened on
 * the outermost file; every query is answered from the nested archive instead.
 *
 * It also describes single entries for jar connections. All of this lives
 * here rather than in the root so that starting an application, which needs
 * none of it, does not load it.
 */
final class NestedJarFile extends JarFile {

    private final ZipRoot root;

    NestedJarFile(ZipRoot root) throws IOException {
        super(root.file(), false);
        this.root = root;
    }

    /** The JarFile view of a root that jar connections hand out; one per root. */
    static JarFile of(ZipRoot root) throws IOException {
        JarFile known = root.jarFile;
        if (known == null) {
            synchronized (root) {
                known = root.jarFile;
                if (known == null) {
                    known = root.isWholeFile() ? new JarFile(root.file()) : new NestedJarFile(root);
                    root.jarFile = known;
                }
            }
        }
        return known;
    }

    /** A JarEntry describing a named entry of a root, or null. */
    static JarEntry entry(final ZipRoot root, String name) {
        int i = root.indexOf(name);
        if (i < 0) {
            return null;
        }
        JarEntry entry = new JarEntry(name) {
            @Override
            public Attributes getAttributes() {
                Manifest m = root.manifest();
                return m == null ? null : m.getAttributes(getName());
            }
        };
        ZipCatalog catalog = root.catalog();
        entry.setMethod(catalog.method(i));
        entry.setSize(catalog.size(i));
        entry.setCompressedSize(catalog.compressedSize(i));
        entry.setCrc(catalog.crc(i) & 0xffffffffL);
        long time = javaTime(catalog.dosTime(i));
        if (time >= 0) {
            entry.setTime(time);
        }
        return entry;
    }

    private static long javaTime(int dos) {
        try {
            LocalDateTime time = LocalDateTime.of(((dos >> 25) & 0x7f) + 1980, (dos >> 21) & 0x0f,
                    (dos >> 16) & 0x1f, (dos >> 11) & 0x1f, (dos >> 5) & 0x3f, (dos << 1) & 0x3e);
            return time.atZone(ZoneId.systemDefault()).toInstant().toEpochMilli();
        } catch (RuntimeException e) {
            return -1;
        }
    }

    @Override
    public ZipEntry getEntry(String name) {
        return entry(root, name);
    }

    @Override
    public JarEntry getJarEntry(String name) {
        return entry(root, name);
    }

    private List<JarEntry> allEntries() {
        List<JarEntry> entries = new ArrayList<JarEntry>();
        for (String name : root.names()) {
            entries.add(entry(root, name));
        }
        return entries;
    }

    @Override
    public Enumeration<JarEntry> entries() {
        return Collections.enumeration(allEntries());
    }

    @Override
    public Stream<JarEntry> stream() {
        return allEntries().stream();
    }

    @Override
    public synchronized InputStream getInputStream(ZipEntry entry) throws IOException {
        return root.open(entry.getName());
    }

    @Override
    public Manifest getManifest() {
        Manifest manifest = root.manifest();
        return manifest == null ? null : new Manifest(manifest);
    }

    @Override
    public int size() {
        return root.names().size();
    }

    @Override
    public String getName() {
        return root.archivePath();
    }

    @Override
    public String getComment() {
        return null;
    }
}
