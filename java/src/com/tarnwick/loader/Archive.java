package com.tarnwick.loader;

import java.io.IOException;
import java.net.MalformedURLException;
import java.net.URL;
import java.util.List;
import java.util.jar.Manifest;

/** An archive the launcher reads: the one holding the launcher, or one nested in it. */
public interface Archive {

    /** The class-path URL of this archive. */
    URL getUrl() throws MalformedURLException;

    /** The archive's manifest, or null. */
    Manifest getManifest() throws IOException;

    /** The archives nested in this one whose entries the filter accepts, in entry order. */
    List<Archive> getNestedArchives(EntryFilter filter) throws IOException;

    /** An entry of an archive: a file, or a directory (its name ends with "/"). */
    interface Entry {
        String getName();

        boolean isDirectory();
    }

    interface EntryFilter {
        boolean matches(Entry entry);
    }
}
