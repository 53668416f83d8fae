package com.tarnwick.loader;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.MalformedURLException;
import java.net.URL;
import java.nio.file.Files;

/** A directory on disk named by the extra class path. */
final class DirectoryRoot extends ClassPathRoot {

    private final File directory;
    private final URL url;

    /** Made through a factory so that the class loader's verification need not load this class. */
    static ClassPathRoot open(File directory) throws MalformedURLException {
        return new DirectoryRoot(directory);
    }

    private DirectoryRoot(File directory) throws MalformedURLException {
        this.directory = directory;
        this.url = directory.toURI().toURL();
    }

    @Override
    URL url() {
        return url;
    }

    /** A name that climbs out of the directory is never looked up. */
    private File file(String name) {
        if (name.startsWith("/") || name.equals("..") || name.startsWith("../")
                || name.contains("/../") || name.endsWith("/..")) {
            return null;
        }
        return new File(directory, name.replace('/', File.separatorChar));
    }

    @Override
    boolean contains(String name) {
        File file = file(name);
        return file != null && file.exists();
    }

    @Override
    byte[] read(String name) throws IOException {
        File file = file(name);
        if (file == null || !file.isFile()) {
            return null;
        }
        return Files.readAllBytes(file.toPath());
    }

    @Override
    InputStream open(String name) throws IOException {
        File file = file(name);
        return file == null || !file.isFile() ? null : new FileInputStream(file);
    }

    @Override
    URL resourceUrl(String name) throws IOException {
        File file = file(name);
        if (file == null) {
            throw new IOException("Not inside " + directory + ": " + name);
        }
        return file.toURI().toURL();
    }
}
