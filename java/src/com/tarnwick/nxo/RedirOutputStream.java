package com.tarnwick.nxo;

import java.io.OutputStream;

/** Standard output or error redirected by the launcher; each byte goes to the native target. */
public class RedirOutputStream extends OutputStream {

    static {
        // Unbound natives make writing report the link error.
        Handler.loadNatives(RedirOutputStream.class);
    }

    /** The native output target, set by the launcher after construction. */
    protected long h;

    public RedirOutputStream() {
        h = 0;
    }

    @Override
    public native void write(int b);
}
