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
 *
 * While the entries of an archive are listed, each entry is offered to the
 * filter as the archive it would become: the entry view is this class too, so
 * that listing loads no class of its own, and the child's archive path is only
 * worked out for entries the filter accepts.
 */
public final class JarArchive implements Archive, Archive.Entry {

    /** The archive path of the parent for an entry not yet accepted, else null. */
    private final String parentPath;
    /** The entry name within the parent ("dir/" for a directory), or null for a whole file. */
    private final String entryName;
    private String archivePath;

    private JarArchive(String archivePath) {
        this.parentPath = null;
        this.entryName = null;
        this.archivePath = archivePath;
    }

    private JarArchive(String parentPath, String entryName) {
        this.parentPath = parentPath;
        this.entryName = entryName;
    }

    /** The archive that is a whole file (a jar, or an executable with an archive appended). */
    public static JarArchive of(File file) {
        return new JarArchive(ZipRoot.fileUrlText(file));
    }

    private synchronized String archivePath() {
        if (archivePath == null) {
            String child = entryName.endsWith("/") ? entryName.substring(0, entryName.length() - 1) : entryName;
            archivePath = parentPath + ZipRoot.SEPARATOR + ZipRoot.encode(child);
        }
        return archivePath;
    }

    /**
     * The class-path URL: a jar URL into the nested archive, or, for a jar the
     * packer marked for unpacking, the file URL of its copy in the user's cache.
     */
    @Override
    public URL getUrl() throws MalformedURLException {
        if (parentPath != null && !isDirectory()) {
            URL unpacked = unpackedUrl();
            if (unpacked != null) {
                return unpacked;
            }
        }
        return ZipRoot.jarUrl(archivePath() + ZipRoot.SEPARATOR);
    }

    private URL unpackedUrl() {
        try {
            ZipRoot parent = ZipRoot.of(parentPath);
            int i = parent.indexOf(entryName);
            byte[] mark = i < 0 ? null : parent.catalog().unpackMark(i);
            return mark == null ? null : Unpacker.unpack(parent.catalog(), i, mark);
        } catch (IOException e) {
            return null;
        }
    }

    @Override
    public Manifest getManifest() throws IOException {
        return ZipRoot.of(archivePath()).manifest();
    }

    /** The entry name in the parent archive; empty for a whole file. */
    @Override
    public String getName() {
        return entryName == null ? "" : entryName;
    }

    @Override
    public boolean isDirectory() {
        return entryName != null && entryName.endsWith("/");
    }

    @Override
    public List<Archive> getNestedArchives(EntryFilter filter) throws IOException {
        return nested(filter, null);
    }

    /** The archives that the launcher accepts, asked directly rather than through a filter object. */
    List<Archive> nestedArchives(ExecutableArchiveLauncher launcher) throws IOException {
        return nested(null, launcher);
    }

    /**
     * Lists the entries, adding directories that only appear as the parents of
     * other entries (a packer need not write directory entries), each before
     * its first child.
     */
    private List<Archive> nested(EntryFilter filter, ExecutableArchiveLauncher launcher) throws IOException {
        String path = archivePath();
        ZipRoot root = ZipRoot.of(path);
        List<Archive> nested = new ArrayList<Archive>();
        Set<String> seenDirectories = new HashSet<String>();
        String previous = "";
        for (int i = 0, n = root.catalogSize(); i < n; i++) {
            String name = root.relativeName(i);
            if (name == null) {
                continue;
            }
            // Parents within the part shared with the previous name were offered with it.
            int shared = sharedDirectoryLength(previous, name);
            for (int slash = name.indexOf('/', shared); slash >= 0 && slash < name.length() - 1;
                    slash = name.indexOf('/', slash + 1)) {
                String parent = name.substring(0, slash + 1);
                if (seenDirectories.add(parent)) {
                    offer(new JarArchive(path, parent), filter, launcher, nested);
                }
            }
            if (!name.endsWith("/") || seenDirectories.add(name)) {
                offer(new JarArchive(path, name), filter, launcher, nested);
            }
            previous = name;
        }
        return nested;
    }

    /**
     * Length of the leading directories ("a/b/") that two names share. Whole
     * directories are compared at once: a loop of charAt calls costs far more
     * while the code still runs interpreted.
     */
    private static int sharedDirectoryLength(String previous, String name) {
        int shared = previous.lastIndexOf('/') + 1;
        while (shared > 0 && !name.regionMatches(0, previous, 0, shared)) {
            shared = previous.lastIndexOf('/', shared - 2) + 1;
        }
        return shared;
    }

    private static void offer(JarArchive candidate, EntryFilter filter, ExecutableArchiveLauncher launcher,
            List<Archive> nested) {
        if (launcher != null ? launcher.isNestedArchive(candidate) : filter.matches(candidate)) {
            nested.add(candidate);
        }
    }

    @Override
    public String toString() {
        return archivePath();
    }
}
