package com.tarnwick.loader;

import java.io.FileNotFoundException;
import java.io.FilePermission;
import java.io.IOException;
import java.io.InputStream;
import java.net.JarURLConnection;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLConnection;
import java.security.CodeSigner;
import java.security.Permission;
import java.security.cert.Certificate;
import java.util.ArrayList;
import java.util.List;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

/**
 * Connection to "jar:" + archive path + "!/" + entry, where the archive path may
 * go through nested archives. Entries are read straight from the archive's
 * directory; nothing is extracted.
 */
public final class NestedJarURLConnection extends JarURLConnection {

    private final String archivePath;
    private final String entry;
    private ZipRoot root;

    /**
     * Declared as the base type so that the handler's verification does not
     * load this class before the first connection.
     */
    public static URLConnection open(URL url) throws MalformedURLException {
        return new NestedJarURLConnection(url);
    }

    public NestedJarURLConnection(URL url) throws MalformedURLException {
        super(url);
        String file = url.getFile();
        int separator = file.lastIndexOf(ZipRoot.SEPARATOR);
        if (separator < 0) {
            throw new MalformedURLException("no !/ in URL: " + url);
        }
        archivePath = file.substring(0, separator);
        String name = file.substring(separator + ZipRoot.SEPARATOR.length());
        entry = name.isEmpty() ? null : ZipRoot.decode(name);
    }

    @Override
    public void connect() throws IOException {
        if (connected) {
            return;
        }
        ZipRoot opened = ZipRoot.of(archivePath);
        if (entry != null && !opened.contains(entry)) {
            throw new FileNotFoundException("JAR entry " + entry + " not found in " + archivePath);
        }
        root = opened;
        connected = true;
    }

    @Override
    public String getEntryName() {
        return entry;
    }

    @Override
    public URL getJarFileURL() {
        if (archivePath.indexOf(ZipRoot.SEPARATOR) < 0) {
            return super.getJarFileURL();
        }
        try {
            return ZipRoot.jarUrl(archivePath);
        } catch (MalformedURLException e) {
            return super.getJarFileURL();
        }
    }

    @Override
    public InputStream getInputStream() throws IOException {
        connect();
        if (entry == null) {
            throw new IOException("no entry name specified");
        }
        InputStream in = root.open(entry);
        if (in == null) {
            throw new FileNotFoundException("JAR entry " + entry + " not found in " + archivePath);
        }
        return in;
    }

    @Override
    public JarFile getJarFile() throws IOException {
        connect();
        return NestedJarFile.of(root);
    }

    @Override
    public JarEntry getJarEntry() throws IOException {
        connect();
        return entry == null ? null : NestedJarFile.entry(root, entry);
    }

    @Override
    public Manifest getManifest() throws IOException {
        connect();
        Manifest manifest = root.manifest();
        return manifest == null ? null : new Manifest(manifest);
    }

    @Override
    public Attributes getAttributes() throws IOException {
        connect();
        Manifest manifest = root.manifest();
        return entry == null || manifest == null ? null : manifest.getAttributes(entry);
    }

    /** The certificates of the entry's verified signers, as for a jar file; null when unsigned. */
    @Override
    public Certificate[] getCertificates() {
        try {
            connect();
        } catch (IOException e) {
            return null;
        }
        CodeSigner[] signers = entry == null ? null : root.signersOf(entry);
        if (signers == null) {
            return null;
        }
        List<Certificate> certificates = new ArrayList<Certificate>();
        for (CodeSigner signer : signers) {
            certificates.addAll(signer.getSignerCertPath().getCertificates());
        }
        return certificates.toArray(new Certificate[0]);
    }

    @Override
    public long getContentLengthLong() {
        try {
            connect();
            JarEntry described = entry == null ? null : NestedJarFile.entry(root, entry);
            return described == null ? -1 : described.getSize();
        } catch (IOException e) {
            return -1;
        }
    }

    @Override
    public int getContentLength() {
        long length = getContentLengthLong();
        return length > Integer.MAX_VALUE ? -1 : (int) length;
    }

    @Override
    public String getContentType() {
        if (entry == null) {
            return "x-java/jar";
        }
        String guessed = guessContentTypeFromName(entry);
        return guessed == null ? "content/unknown" : guessed;
    }

    @Override
    public long getLastModified() {
        try {
            connect();
            JarEntry described = entry == null ? null : NestedJarFile.entry(root, entry);
            return described == null ? 0 : Math.max(0, described.getTime());
        } catch (IOException e) {
            return 0;
        }
    }

    @Override
    public Permission getPermission() throws IOException {
        String path = ZipRoot.toFile(outermostFileUrl()).getPath();
        return new FilePermission(path, "read");
    }

    private String outermostFileUrl() {
        int separator = archivePath.indexOf(ZipRoot.SEPARATOR);
        return separator < 0 ? archivePath : archivePath.substring(0, separator);
    }
}
