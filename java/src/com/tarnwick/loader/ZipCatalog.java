package com.tarnwick.loader;

import java.io.ByteArrayInputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ConcurrentHashMap;
import java.util.zip.DataFormatException;
import java.util.zip.Inflater;

/**
 * The central directory of one ZIP archive lying in a region of a file: an
 * outer archive, or a stored jar inside it, read in place and never copied out.
 *
 * The archive need not start at the region's first byte: an executable carries
 * its program image in front of the archive, and the entry offsets count from
 * the archive's own start. That start is found the way the JDK finds it: the
 * end record's position minus the directory size minus the directory offset.
 */
final class ZipCatalog {

    static final int STORED = 0;
    static final int DEFLATED = 8;

    private static final int END_SIGNATURE = 0x06054b50;
    private static final int CENTRAL_SIGNATURE = 0x02014b50;
    private static final int LOCAL_SIGNATURE = 0x04034b50;
    private static final int END_SIZE = 22;
    private static final int CENTRAL_SIZE = 46;
    private static final int LOCAL_SIZE = 30;
    private static final int MAX_COMMENT = 0xffff;
    private static final int ZIP64_END_SIGNATURE = 0x06064b50;
    private static final int ZIP64_LOCATOR_SIGNATURE = 0x07064b50;
    private static final int ZIP64_END_SIZE = 56;
    private static final int ZIP64_LOCATOR_SIZE = 20;
    private static final int ZIP64_EXTRA_TAG = 0x0001;
    private static final int UNPACK_EXTRA_TAG = 0x584e;
    /** What an end record says, in the order findEndRecord answers. */
    private static final int END_COUNT = 0;
    private static final int END_DIRECTORY_SIZE = 1;
    private static final int END_DIRECTORY_OFFSET = 2;
    /** Where the directory ends: the end record, or the ZIP64 end record. */
    private static final int END_DIRECTORY_END = 3;
    /** Entries at most this large are read whole; larger ones are streamed. */
    private static final int WHOLE_READ_LIMIT = 256 * 1024;
    private static final int POOLED_INFLATERS = 8;
    private static final byte[] PAD = new byte[1];
    private static final byte[] VERSIONS = {'M', 'E', 'T', 'A', '-', 'I', 'N', 'F', '/',
        'v', 'e', 'r', 's', 'i', 'o', 'n', 's', '/'};

    /**
     * File handles by canonical path. A handle is shared by every archive in the
     * same file and stays open for the life of the process, like the JVM's own
     * class-path jars. Reads go through a synchronized seek-and-read on a
     * RandomAccessFile rather than a FileChannel: an interrupted thread closes
     * a FileChannel for everyone, and applications do interrupt threads that
     * happen to be loading classes.
     */
    private static final ConcurrentHashMap<String, RandomAccessFile> OPEN_FILES =
            new ConcurrentHashMap<String, RandomAccessFile>();

    private final File file;
    private final RandomAccessFile data;
    /** Where this archive's region starts in the file, and its length. */
    private final long start;
    private final long length;
    /**
     * The central directory as read. Entry fields are decoded from it when
     * asked for, and names only when needed as text: building the catalog is
     * on the start path, where every bytecode still runs interpreted.
     */
    private final byte[] directory;
    /** Position of each entry's record in the directory. */
    private final int[] entryAt;
    /** Entry names as text, made on first use (non-ASCII ones at once). */
    private final String[] names;
    /** The String hash code of each name. */
    private final int[] hashes;
    /** Open-addressing index by name hash: entry number + 1, 0 for a free slot. */
    private final int[] table;
    private final long archiveStart;
    /** Start of each entry's data, 0 until its local header has been read. */
    private final long[] dataOffsets;
    private final ArrayDeque<Inflater> inflaters = new ArrayDeque<Inflater>();
    /** Whether any name starts with "META-INF/versions/": only then can the archive be multi-release. */
    private boolean hasVersionedEntries;

    /** The archive that is a whole file. */
    static ZipCatalog open(File file) throws IOException {
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
        return new ZipCatalog(canonical, data, 0, data.length());
    }

    private ZipCatalog(File file, RandomAccessFile data, long start, long length) throws IOException {
        this.file = file;
        this.data = data;
        this.start = start;
        this.length = length;
        long[] found = new long[2];
        directory = readCentralDirectory(found);
        int count = (int) found[0];
        archiveStart = found[1];
        entryAt = new int[count];
        names = new String[count];
        hashes = new int[count];
        dataOffsets = new long[count];
        table = indexEntries(count);
    }

    /**
     * Finds the end record and reads the central directory it points at.
     * Returns the directory's bytes; {@code found} receives the entry count and
     * the archive's start in the region.
     */
    private byte[] readCentralDirectory(long[] found) throws IOException {
        // One read from the end usually brings the end record and the whole
        // central directory.
        int tailLength = (int) Math.min(length, END_SIZE + MAX_COMMENT + 1024L);
        byte[] tail = new byte[tailLength];
        long tailStart = length - tailLength;
        readFully(tailStart, tail, 0, tailLength);
        long[] end = findEndRecord(tail, tailStart);
        long directorySize = end[END_DIRECTORY_SIZE];
        long directoryEnd = end[END_DIRECTORY_END];
        if (end[END_COUNT] > directorySize / CENTRAL_SIZE || directorySize > Integer.MAX_VALUE) {
            throw Failures.zip("Invalid central directory in " + file);
        }
        int count = (int) end[END_COUNT];
        long archiveStart = directoryEnd - directorySize - end[END_DIRECTORY_OFFSET];
        if (archiveStart < 0) {
            throw Failures.zip("Invalid central directory in " + file);
        }
        found[0] = count;
        found[1] = archiveStart;
        long directoryStart = directoryEnd - directorySize;
        if (directoryStart >= tailStart) {
            int from = (int) (directoryStart - tailStart);
            return Arrays.copyOfRange(tail, from, from + (int) directorySize);
        }
        byte[] bytes = new byte[(int) directorySize];
        readFully(directoryStart, bytes, 0, bytes.length);
        return bytes;
    }

    /**
     * Walks the {@code count} records of the directory, filling
     * {@link #entryAt}, {@link #hashes} and the non-ASCII {@link #names}, and
     * returns the open-addressing index by name hash.
     */
    private int[] indexEntries(int count) throws IOException {
        int slots = 2;
        while (slots < count * 2) {
            slots <<= 1;
        }
        int[] index = new int[slots];
        int mask = slots - 1;
        int limit = directory.length;
        int at = 0;
        boolean versioned = false;
        for (int i = 0; i < count; i++) {
            if (at + CENTRAL_SIZE > limit || (int) u32(directory, at) != CENTRAL_SIGNATURE) {
                throw Failures.zip("Invalid central directory entry " + i + " in " + file);
            }
            int nameLength = u16(directory, at + 28);
            int nameStart = at + CENTRAL_SIZE;
            int nameEnd = nameStart + nameLength;
            if (nameEnd > limit) {
                throw Failures.zip("Truncated central directory in " + file);
            }
            entryAt[i] = at;
            if (!versioned && nameLength > VERSIONS.length && directory[nameStart] == 'M') {
                versioned = startsWith(directory, nameStart, VERSIONS);
            }
            // The hash of an ASCII name equals its String hash; other names are
            // decoded to get it.
            int hash = 0;
            for (int k = nameStart; k < nameEnd; k++) {
                byte b = directory[k];
                if (b < 0) {
                    String decoded = new String(directory, nameStart, nameLength, StandardCharsets.UTF_8);
                    names[i] = decoded;
                    hash = decoded.hashCode();
                    break;
                }
                hash = 31 * hash + b;
            }
            hashes[i] = hash;
            int slot = (hash ^ (hash >>> 16)) & mask;
            while (index[slot] != 0) {
                slot = (slot + 1) & mask;
            }
            index[slot] = i + 1;
            at = nameEnd + u16(directory, at + 30) + u16(directory, at + 32);
        }
        hasVersionedEntries = versioned;
        return index;
    }

    private static boolean startsWith(byte[] b, int at, byte[] prefix) {
        for (int k = 0; k < prefix.length; k++) {
            if (b[at + k] != prefix[k]) {
                return false;
            }
        }
        return true;
    }

    boolean hasVersionedEntries() {
        return hasVersionedEntries;
    }

    /**
     * Searches the tail of the region backwards for the end record and returns
     * what it says (see END_COUNT and the fields after it). Bytes may follow
     * it; a candidate counts only when the directory it describes starts with
     * a directory-entry signature (or is empty).
     */
    private long[] findEndRecord(byte[] tail, long tailStart) throws IOException {
        for (int at = tail.length - END_SIZE; at >= 0; at--) {
            if ((int) u32(tail, at) != END_SIGNATURE) {
                continue;
            }
            long[] end = endValues(tail, tailStart, at);
            if (end == null) {
                continue;
            }
            long directoryEnd = end[END_DIRECTORY_END];
            long directorySize = end[END_DIRECTORY_SIZE];
            if (directorySize > directoryEnd || end[END_DIRECTORY_OFFSET] > directoryEnd - directorySize) {
                continue;
            }
            if (end[END_COUNT] > 0 && !startsWithCentralSignature(directoryEnd - directorySize, tail, tailStart)) {
                continue;
            }
            return end;
        }
        throw Failures.zip("Not a ZIP archive (no end record): " + file);
    }

    /**
     * The values of the end record at a position of the tail, taken from the
     * ZIP64 end record when a locator stands before it; null when they cannot
     * be right. Without ZIP64 records a count of 0xffff is simply 65,535.
     */
    private long[] endValues(byte[] tail, long tailStart, int at) throws IOException {
        long position = tailStart + at;
        long[] end = {u16(tail, at + 10), u32(tail, at + 12), u32(tail, at + 16), position};
        long record = zip64EndRecord(tail, tailStart, position);
        if (record >= 0) {
            byte[] zip64 = new byte[ZIP64_END_SIZE];
            readFully(record, zip64, 0, ZIP64_END_SIZE);
            end[END_COUNT] = u64(zip64, 32);
            end[END_DIRECTORY_SIZE] = u64(zip64, 40);
            end[END_DIRECTORY_OFFSET] = u64(zip64, 48);
            end[END_DIRECTORY_END] = record;
            return end[END_COUNT] < 0 || end[END_DIRECTORY_SIZE] < 0 || end[END_DIRECTORY_OFFSET] < 0 ? null : end;
        }
        return end[END_DIRECTORY_SIZE] == 0xffffffffL || end[END_DIRECTORY_OFFSET] == 0xffffffffL ? null : end;
    }

    /**
     * The position of the ZIP64 end record that a locator right before the end
     * record names, or -1. The locator's offset counts from the file's start
     * for the JDK's reader; where it counts from an archive's start behind
     * leading bytes, the record is found right before the locator instead.
     */
    private long zip64EndRecord(byte[] tail, long tailStart, long endPosition) throws IOException {
        long locator = endPosition - ZIP64_LOCATOR_SIZE;
        if (locator - ZIP64_END_SIZE < 0) {
            return -1;
        }
        byte[] bytes = tail;
        int from = (int) (locator - tailStart);
        if (locator < tailStart) {
            // Only when the tail read holds nothing before the end record.
            bytes = new byte[ZIP64_LOCATOR_SIZE];
            readFully(locator, bytes, 0, ZIP64_LOCATOR_SIZE);
            from = 0;
        }
        if ((int) u32(bytes, from) != ZIP64_LOCATOR_SIGNATURE) {
            return -1;
        }
        long named = u64(bytes, from + 8);
        long before = locator - ZIP64_END_SIZE;
        byte[] signature = new byte[4];
        for (long candidate : new long[] {named, before}) {
            if (candidate >= 0 && candidate <= before) {
                readFully(candidate, signature, 0, 4);
                if ((int) u32(signature, 0) == ZIP64_END_SIGNATURE) {
                    return candidate;
                }
            }
        }
        return -1;
    }

    private boolean startsWithCentralSignature(long position, byte[] tail, long tailStart) throws IOException {
        if (position >= tailStart) {
            return (int) u32(tail, (int) (position - tailStart)) == CENTRAL_SIGNATURE;
        }
        byte[] signature = new byte[4];
        readFully(position, signature, 0, 4);
        return (int) u32(signature, 0) == CENTRAL_SIGNATURE;
    }

    int size() {
        return entryAt.length;
    }

    long regionLength() {
        return length;
    }

    /** The entry of that name, the last one when the name occurs twice; -1 when there is none. */
    int indexOf(String name) {
        int hash = name.hashCode();
        int mask = table.length - 1;
        int found = -1;
        for (int slot = (hash ^ (hash >>> 16)) & mask; table[slot] != 0; slot = (slot + 1) & mask) {
            int i = table[slot] - 1;
            if (hashes[i] == hash && nameEquals(i, name)) {
                found = i;
            }
        }
        return found;
    }

    /** Compares without making the entry's name text when it is ASCII. */
    private boolean nameEquals(int i, String name) {
        String known = names[i];
        if (known != null) {
            return known.equals(name);
        }
        int length = nameLength(i);
        if (name.length() != length) {
            return false;
        }
        byte[] d = directory;
        for (int k = 0, at = entryAt[i] + CENTRAL_SIZE; k < length; k++, at++) {
            if (name.charAt(k) != d[at]) {
                return false;
            }
        }
        return true;
    }

    @SuppressWarnings("deprecation")
    String name(int i) {
        String known = names[i];
        if (known == null) {
            // Only ASCII names are left to make: one byte per character.
            known = new String(directory, 0, entryAt[i] + CENTRAL_SIZE, nameLength(i));
            names[i] = known;
        }
        return known;
    }

    private int nameLength(int i) {
        return u16(directory, entryAt[i] + 28);
    }

    int method(int i) {
        return u16(directory, entryAt[i] + 10);
    }

    long size(int i) {
        long size = u32(directory, entryAt[i] + 24);
        return size == 0xffffffffL ? zip64Value(i, 0) : size;
    }

    long compressedSize(int i) {
        long size = u32(directory, entryAt[i] + 20);
        return size == 0xffffffffL ? zip64Value(i, 1) : size;
    }

    /**
     * A value of an entry's ZIP64 extra field: field 0 the size, 1 the
     * compressed size, 2 the local header's offset. The field holds only the
     * values whose 32-bit places hold 0xffffffff, in that order. -1 when absent.
     */
    private long zip64Value(int i, int field) {
        int at = entryAt[i];
        int extraStart = at + CENTRAL_SIZE + nameLength(i);
        int extraEnd = Math.min(extraStart + u16(directory, at + 30), directory.length);
        int[] places = {24, 20, 42};
        for (int k = extraStart; k + 4 <= extraEnd; k += 4 + u16(directory, k + 2)) {
            if (u16(directory, k) != ZIP64_EXTRA_TAG) {
                continue;
            }
            int read = k + 4;
            for (int f = 0; f <= field; f++) {
                if (u32(directory, at + places[f]) != 0xffffffffL) {
                    continue;
                }
                if (read + 8 > Math.min(extraEnd, k + 4 + u16(directory, k + 2))) {
                    return -1;
                }
                if (f == field) {
                    return u64(directory, read);
                }
                read += 8;
            }
        }
        return -1;
    }

    int crc(int i) {
        return (int) u32(directory, entryAt[i] + 16);
    }

    int dosTime(int i) {
        return (int) u32(directory, entryAt[i] + 12);
    }

    /**
     * The packer's mark on a nested jar to unpack: the MD5 of its bytes, from
     * the central directory's extra field "NX"; null for an unmarked entry.
     */
    byte[] unpackMark(int i) {
        int at = entryAt[i];
        int extraLength = u16(directory, at + 30);
        if (extraLength == 0) {
            return null;
        }
        int extraStart = at + CENTRAL_SIZE + nameLength(i);
        // A damaged last entry may claim more extra bytes than the directory holds.
        int extraEnd = Math.min(extraStart + extraLength, directory.length);
        for (int k = extraStart; k + 4 <= extraEnd; k += 4 + u16(directory, k + 2)) {
            int size = u16(directory, k + 2);
            if (u16(directory, k) == UNPACK_EXTRA_TAG && size == 16 && k + 4 + size <= extraEnd) {
                return Arrays.copyOfRange(directory, k + 4, k + 4 + size);
            }
        }
        return null;
    }

    private long headerOffset(int i) {
        long offset = u32(directory, entryAt[i] + 42);
        return archiveStart + (offset == 0xffffffffL ? zip64Value(i, 2) : offset);
    }

    File file() {
        return file;
    }

    List<String> names() {
        List<String> list = new ArrayList<String>(size());
        for (int i = 0, n = size(); i < n; i++) {
            list.add(name(i));
        }
        return list;
    }

    /** Whether any entry's name starts with the given directory name. */
    boolean hasEntriesUnder(String directory) {
        if (indexOf(directory) >= 0) {
            return true;
        }
        for (int i = 0, n = size(); i < n; i++) {
            if (name(i).startsWith(directory)) {
                return true;
            }
        }
        return false;
    }

    /** The archive that a stored entry holds, read in place: how nested jars are opened. */
    ZipCatalog nested(int i) throws IOException {
        if (method(i) != STORED) {
            throw Failures.zip("Entry " + name(i) + " is compressed");
        }
        long offset = dataOffset(i);
        long size = compressedSize(i);
        if (offset < 0 || size < 0 || offset + size > length) {
            throw new IOException("Region " + offset + "+" + size + " lies outside " + file);
        }
        return new ZipCatalog(file, data, start + offset, size);
    }

    /** The whole uncompressed content of an entry. */
    byte[] read(int i) throws IOException {
        long compressed = compressedSize(i);
        long size = size(i);
        if (compressed > Integer.MAX_VALUE - 1024 || size > Integer.MAX_VALUE - 1024) {
            throw new IOException("Entry too large to read at once: " + name(i));
        }
        // One read normally brings the local header and the data together: the
        // local name has the central name's length and the extra field is
        // usually empty or short.
        long headerOffset = headerOffset(i);
        int guess = LOCAL_SIZE + nameLength(i) + 64 + (int) compressed;
        byte[] buffer = new byte[guess];
        int got = readAtMost(headerOffset, buffer, 0, guess);
        int dataStart = localDataStart(i, buffer, got);
        if (dataStart + compressed > got) {
            buffer = new byte[(int) compressed];
            readFully(headerOffset + dataStart, buffer, 0, buffer.length);
            dataStart = 0;
        }
        if (method(i) == STORED) {
            byte[] content = new byte[(int) compressed];
            System.arraycopy(buffer, dataStart, content, 0, content.length);
            return content;
        }
        if (method(i) == DEFLATED) {
            return inflate(i, buffer, dataStart, (int) compressed, (int) size);
        }
        throw Failures.zip("Unsupported compression method " + method(i) + " for " + name(i));
    }

    /** A stream over an entry's uncompressed content. */
    InputStream open(int i) throws IOException {
        if (size(i) <= WHOLE_READ_LIMIT && compressedSize(i) <= WHOLE_READ_LIMIT) {
            return new ByteArrayInputStream(read(i));
        }
        long data = dataOffset(i);
        if (method(i) == STORED) {
            return RegionStream.stored(this, data, compressedSize(i));
        }
        if (method(i) == DEFLATED) {
            return RegionStream.deflated(this, data, compressedSize(i));
        }
        throw Failures.zip("Unsupported compression method " + method(i) + " for " + name(i));
    }

    private long dataOffset(int i) throws IOException {
        long known = dataOffsets[i];
        if (known > 0) {
            return known;
        }
        byte[] header = new byte[LOCAL_SIZE];
        readFully(headerOffset(i), header, 0, LOCAL_SIZE);
        long offset = headerOffset(i) + localDataStart(i, header, LOCAL_SIZE);
        dataOffsets[i] = offset;
        return offset;
    }

    /** Offset of the data from the local header, checked against the signature. */
    private int localDataStart(int i, byte[] header, int available) throws IOException {
        if (available < LOCAL_SIZE || (int) u32(header, 0) != LOCAL_SIGNATURE) {
            throw Failures.zip("Invalid local header for " + name(i) + " in " + file);
        }
        return LOCAL_SIZE + u16(header, 26) + u16(header, 28);
    }

    private byte[] inflate(int i, byte[] input, int offset, int length, int size) throws IOException {
        byte[] output = new byte[size];
        Inflater inflater = takeInflater();
        try {
            inflater.setInput(input, offset, length);
            int filled = 0;
            boolean padded = false;
            while (filled < size) {
                int n = inflater.inflate(output, filled, size - filled);
                filled += n;
                if (n > 0) {
                    continue;
                }
                if (inflater.needsInput() && !padded) {
                    // A raw inflater may want one byte past the data to finish.
                    inflater.setInput(PAD, 0, 1);
                    padded = true;
                    continue;
                }
                break;
            }
            if (filled != size) {
                throw Failures.zip("Truncated deflated data for " + name(i));
            }
            return output;
        } catch (Exception e) {
            // Tested rather than caught by type, which would load it at every start.
            if (e instanceof DataFormatException) {
                throw Failures.zip("Invalid deflated data for " + name(i) + ": " + e.getMessage());
            }
            if (e instanceof IOException) {
                throw (IOException) e;
            }
            throw (RuntimeException) e;
        } finally {
            giveBack(inflater);
        }
    }

    private Inflater takeInflater() {
        synchronized (inflaters) {
            Inflater pooled = inflaters.poll();
            if (pooled != null) {
                return pooled;
            }
        }
        return new Inflater(true);
    }

    private void giveBack(Inflater inflater) {
        inflater.reset();
        synchronized (inflaters) {
            if (inflaters.size() < POOLED_INFLATERS) {
                inflaters.push(inflater);
                return;
            }
        }
        inflater.end();
    }

    void readFully(long position, byte[] buffer, int offset, int count) throws IOException {
        if (position < 0 || position + count > length) {
            throw Failures.endOfData("Read past the end of " + file);
        }
        synchronized (data) {
            data.seek(start + position);
            data.readFully(buffer, offset, count);
        }
    }

    /** Reads up to count bytes, fewer only at the end of the region. */
    private int readAtMost(long position, byte[] buffer, int offset, int count) throws IOException {
        int available = (int) Math.min(count, length - position);
        if (available <= 0) {
            return 0;
        }
        readFully(position, buffer, offset, available);
        return available;
    }

    private static int u16(byte[] b, int at) {
        return (b[at] & 0xff) | (b[at + 1] & 0xff) << 8;
    }

    private static long u32(byte[] b, int at) {
        return ((long) u16(b, at) | (long) u16(b, at + 2) << 16) & 0xffffffffL;
    }

    /** An unsigned 64-bit value; beyond Long.MAX_VALUE it comes out negative, which callers refuse. */
    private static long u64(byte[] b, int at) {
        return u32(b, at) | u32(b, at + 4) << 32;
    }
}
