package com.tarnwick.loader;

import java.io.EOFException;
import java.io.File;
import java.io.IOException;
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
}
