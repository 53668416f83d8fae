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
        String appPath = System.getProperty("nxo.app.path");
        if (appPath != null && !"true".equals(System.getProperty("nxo.natives.registered"))) {
            try {
                System.load(appPath);
            } catch (LinkageError e) {
                // Caught by its base type and tested: a caught type is loaded when
                // the class is verified, and this one would be on every start.
                if (!(e instanceof UnsatisfiedLinkError)) {
                    throw e;
                }
                // Natives stay unbound; opening a URL then reports the link error.
            }
        }
    }

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
