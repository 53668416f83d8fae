package com.tarnwick.nxo;

import java.io.OutputStream;

/** Standard output or error redirected by the launcher; each byte goes to the native target. */
public class RedirOutputStream extends OutputStream {

    static {
        String appPath = System.getProperty("nxo.app.path");
        if (appPath != null && !"true".equals(System.getProperty("nxo.natives.registered"))) {
            try {
                System.load(appPath);
            } catch (UnsatisfiedLinkError e) {
                // Natives stay unbound; writing then reports the link error.
            }
        }
    }

    /** The native output target, set by the launcher after construction. */
    protected long h;

    public RedirOutputStream() {
        h = 0;
    }

    @Override
    public native void write(int b);
}
