package com.tarnwick.loader;

import java.io.File;
import java.io.IOException;
import java.net.MalformedURLException;
import java.net.URL;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.jar.Manifest;

/**
 * An archive named by its archive path. Making one opens nothing: a nested
 * archive is opened when it is first read, by the class loader, so a broken
 * nested jar is reported where its classes are needed.
 */
public final class JarArchive implements Archive {

    private final String archivePath;

    private JarArchive(String archivePath) {
        this.archivePath = archivePath;
    }

    /** The archive that is a whole file (a jar, or an executable with an archive appended). */
    public static JarArchive of(File file) {
        return new JarArchive(UrlText.fileUrlText(file));
    }

    @Override
    public URL getUrl() throws MalformedURLException {
        return ZipRoot.jarUrl(archivePath + UrlText.SEPARATOR);
    }

    @Override
    public Manifest getManifest() throws IOException {
        return Archives.root(archivePath).manifest();
    }

    /**
     * Lists the entries, adding directories that only appear as the parents of
     * other entries (a packer need not write directory entries), each before
     * its first child.
     */
    @Override
    public List<Archive> getNestedArchives(EntryFilter filter) throws IOException {
        ZipRoot root = Archives.root(archivePath);
        List<Archive> nested = new ArrayList<Archive>();
        Set<String> seenDirectories = new HashSet<String>();
        for (String name : root.names()) {
            for (int slash = name.indexOf('/'); slash >= 0 && slash < name.length() - 1;
                    slash = name.indexOf('/', slash + 1)) {
                String parent = name.substring(0, slash + 1);
                if (seenDirectories.add(parent)) {
                    offer(parent, filter, nested);
                }
            }
            if (name.endsWith("/")) {
                if (seenDirectories.add(name)) {
                    offer(name, filter, nested);
                }
            } else {
                offer(name, filter, nested);
            }
        }
        return nested;
    }

    private void offer(final String name, EntryFilter filter, List<Archive> nested) {
        Entry entry = new Entry() {
            @Override
            public String getName() {
                return name;
            }

            @Override
            public boolean isDirectory() {
                return name.endsWith("/");
            }
        };
        if (filter.matches(entry)) {
            String child = name.endsWith("/") ? name.substring(0, name.length() - 1) : name;
            nested.add(new JarArchive(archivePath + UrlText.SEPARATOR + UrlText.encode(child)));
        }
    }

    @Override
    public String toString() {
        return archivePath;
    }
}
