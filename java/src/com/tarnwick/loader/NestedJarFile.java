package com.tarnwick.loader;

import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;

/**
 * A JarFile over a nested archive, for code that asks a jar connection for its
 * JarFile. A JarFile must be built over a real file, so the base is opened on
 * the outermost file; every query is answered from the nested archive instead.
 */
final class NestedJarFile extends JarFile {

    private final ZipRoot root;

    NestedJarFile(ZipRoot root) throws IOException {
        super(root.file(), false);
        this.root = root;
    }

    @Override
    public ZipEntry getEntry(String name) {
        return root.jarEntry(name);
    }

    @Override
    public JarEntry getJarEntry(String name) {
        return root.jarEntry(name);
    }

    private List<JarEntry> allEntries() {
        List<JarEntry> entries = new ArrayList<JarEntry>();
        for (String name : root.names()) {
            entries.add(root.jarEntry(name));
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
