package com.tarnwick.nxo;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;

/** Test stand-in for the handler of the "nxo" URL scheme. */
public class Handler extends URLStreamHandler {
    @Override
    protected URLConnection openConnection(URL url) {
        String key = url.toString();
        return new URLConnection(url) {
            @Override
            public void connect() {}

            @Override
            public InputStream getInputStream() {
                byte[] data = loadResourceData(key);
                return data == null ? null : new ByteArrayInputStream(data);
            }
        };
    }

    native byte[] loadResourceData(String key);
}
