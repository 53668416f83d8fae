package com.tarnwick.loader;

import java.io.IOException;
import java.io.InputStream;
import java.util.zip.Inflater;
import java.util.zip.InflaterInputStream;

/**
 * Streams a span of an archive's region: how entries too large to read at once are
 * served. The factories answer with the base type, so that the catalog's
 * verification does not load these classes; most applications never stream.
 */
final class RegionStream extends InputStream {

    private final ZipCatalog region;
    private long position;
    private long remaining;
    private boolean padPending;

    /**
     * With padWithZero the stream adds one zero byte at the end, which a raw
     * inflater may ask for to finish a deflate stream.
     */
    private RegionStream(ZipCatalog region, long position, long size, boolean padWithZero) {
        this.region = region;
        this.position = position;
        this.remaining = size;
        this.padPending = padWithZero;
    }

    static InputStream stored(ZipCatalog region, long position, long size) {
        return new RegionStream(region, position, size, false);
    }

    static InputStream deflated(ZipCatalog region, long position, long size) {
        return new InflaterInputStream(new RegionStream(region, position, size, true), new Inflater(true), 8192) {
            private boolean closed;

            @Override
            public void close() throws IOException {
                if (!closed) {
                    closed = true;
                    inf.end();
                    super.close();
                }
            }
        };
    }

    @Override
    public int read() throws IOException {
        byte[] one = new byte[1];
        return read(one, 0, 1) == 1 ? one[0] & 0xff : -1;
    }

    @Override
    public int read(byte[] buffer, int offset, int count) throws IOException {
        if (count == 0) {
            return 0;
        }
        if (remaining == 0) {
            if (padPending) {
                padPending = false;
                buffer[offset] = 0;
                return 1;
            }
            return -1;
        }
        int n = (int) Math.min(count, remaining);
        region.readFully(position, buffer, offset, n);
        position += n;
        remaining -= n;
        return n;
    }

    @Override
    public long skip(long n) {
        long skipped = Math.max(0, Math.min(n, remaining));
        position += skipped;
        remaining -= skipped;
        return skipped;
    }

    @Override
    public int available() {
        return (int) Math.min(Integer.MAX_VALUE, remaining);
    }
}
