package com.tarnwick.loader;

import java.io.EOFException;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.RandomAccessFile;
import java.util.concurrent.ConcurrentHashMap;

/**
 * A window onto a file: an outer archive, or a stored jar inside it. Reads are
 * positioned, so a nested jar is read in place and never copied out.
 *
 * The file handle is shared by every region of the same file and stays open for
 * the life of the process, like the JVM's own class-path jars. Reads go through
 * a synchronized seek-and-read on a RandomAccessFile rather than a FileChannel:
 * an interrupted thread closes a FileChannel for everyone, and applications do
 * interrupt threads that happen to be loading classes.
 */
final class FileRegion {

    private static final ConcurrentHashMap<String, RandomAccessFile> OPEN_FILES =
            new ConcurrentHashMap<String, RandomAccessFile>();

    private final File file;
    private final RandomAccessFile data;
    private final long start;
    private final long length;

    private FileRegion(File file, RandomAccessFile data, long start, long length) {
        this.file = file;
        this.data = data;
        this.start = start;
        this.length = length;
    }

    static FileRegion of(File file) throws IOException {
        File canonical = file.getCanonicalFile();
        String key = canonical.getPath();
        RandomAccessFile data = OPEN_FILES.get(key);
        if (data == null) {
            RandomAccessFile opened = new RandomAccessFile(canonical, "r");
            data = OPEN_FILES.putIfAbsent(key, opened);
            if (data == null) {
                data = opened;
            } else {
                opened.close();
            }
        }
        return new FileRegion(canonical, data, 0, data.length());
    }

    FileRegion subRegion(long offset, long size) throws IOException {
        if (offset < 0 || size < 0 || offset + size > length) {
            throw new IOException("Region " + offset + "+" + size + " lies outside " + file);
        }
        return new FileRegion(file, data, start + offset, size);
    }

    File file() {
        return file;
    }

    long length() {
        return length;
    }

    void readFully(long position, byte[] buffer, int offset, int count) throws IOException {
        if (position < 0 || position + count > length) {
            throw new EOFException("Read past the end of " + file);
        }
        synchronized (data) {
            data.seek(start + position);
            data.readFully(buffer, offset, count);
        }
    }

    /** Reads up to count bytes, fewer only at the end of the region. */
    int readAtMost(long position, byte[] buffer, int offset, int count) throws IOException {
        int available = (int) Math.min(count, length - position);
        if (available <= 0) {
            return 0;
        }
        readFully(position, buffer, offset, available);
        return available;
    }

    InputStream openStream(long position, long size, boolean padWithZero) {
        return new RegionInputStream(this, position, size, padWithZero);
    }

    /**
     * Streams a span of the region. With padWithZero it adds one zero byte at the
     * end, which a raw inflater may ask for to finish a deflate stream.
     */
    private static final class RegionInputStream extends InputStream {
        private final FileRegion region;
        private long position;
        private long remaining;
        private boolean padPending;

        RegionInputStream(FileRegion region, long position, long size, boolean padWithZero) {
            this.region = region;
            this.position = position;
            this.remaining = size;
            this.padPending = padWithZero;
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
}
