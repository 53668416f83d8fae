package com.tarnwick.nxo;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.lang.ref.SoftReference;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;
import java.util.Hashtable;

/**
 * Handler of the "nxo" URL scheme; the bytes behind a URL come from the
 * executable. The JDK finds this class because the launcher adds
 * "com.tarnwick" to "java.protocol.handler.pkgs".
 */
public class Handler extends URLStreamHandler {

    /** URL text to a soft reference of the bytes the executable returned for it. */
    protected static Hashtable<String, SoftReference<byte[]>> loadedData;

    static {
        loadedData = new Hashtable<String, SoftReference<byte[]>>();
        // Unbound natives make opening a URL report the link error.
        loadNatives();
    }

    /**
     * Loads the running executable's natives into the JVM for every class of
     * this package that declares natives, unless the launcher has bound them
     * itself (where an executable cannot be loaded as a library it binds them
     * and says so in "nxo.natives.registered"). It lives here because every
     * start loads this class anyway, and the package holds no class beyond
     * its fixed set. False when the executable was tried and its natives did
     * not link: they stay unbound, and their first call reports the link
     * error.
     */
    static boolean loadNatives() {
        String appPath = System.getProperty("nxo.app.path");
        if (appPath == null || "true".equals(System.getProperty("nxo.natives.registered"))) {
            return true;
        }
        try {
            System.load(appPath);
            return true;
        } catch (LinkageError e) {
            // Caught by its base type and tested: a caught type is loaded when
            // the class is verified, and this one would be on every start.
            if (!(e instanceof UnsatisfiedLinkError)) {
                throw e;
            }
            return false;
        }
    }

    /**
     * Loads the natives of class c, one of this package's classes that the
     * launcher does not bind at start because a start need not use it: where
     * the launcher binds natives itself it binds c's now, elsewhere this is
     * loadNatives(). Unbound natives report the link error at their first
     * call.
     */
    static void loadNatives(Class<?> c) {
        if (System.getProperty("nxo.app.path") != null
                && "true".equals(System.getProperty("nxo.natives.registered"))) {
            bindNatives(c);
        } else {
            loadNatives();
        }
    }

    private static native void bindNatives(Class<?> c);

    @Override
    protected URLConnection openConnection(URL url) {
        final String key = url.toString();
        // Held as Object until returned, so that verifying this handler, which
        // the launcher does at every start, need not load the connection class.
        Object connection = new URLConnection(url) {
            @Override
            public void connect() {
            }

            @Override
            public InputStream getInputStream() {
                SoftReference<byte[]> cached = loadedData.get(key);
                byte[] bytes = cached == null ? null : cached.get();
                if (bytes == null) {
                    bytes = loadResourceData(key);
                    loadedData.put(key, new SoftReference<byte[]>(bytes));
                }
                return bytes == null ? null : new ByteArrayInputStream(bytes);
            }

            @Override
            public String getContentType() {
                return guessContentTypeFromName(key);
            }
        };
        return (URLConnection) connection;
    }

    /** The bytes behind a URL of the scheme, or null for URLs of other schemes. */
    native byte[] loadResourceData(String url);
}
