package com.tarnwick.loader;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.zip.DataFormatException;
import java.util.zip.Inflater;
import java.util.zip.ZipException;

/**
 * The central directory of one ZIP archive lying in a file region.
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
    /** Entries at most this large are read whole; larger ones are streamed. */
    private static final int WHOLE_READ_LIMIT = 256 * 1024;
    private static final int POOLED_INFLATERS = 8;
    private static final byte[] PAD = new byte[1];

    private final FileRegion region;
    private final String[] names;
    private final int[] methods;
    private final long[] compressedSizes;
    private final long[] sizes;
    private final long[] headerOffsets;
    private final int[] nameLengths;
    private final int[] crcs;
    private final int[] dosTimes;
    /** Start of each entry's data, -1 until its local header has been read. */
    private final long[] dataOffsets;
    private final HashMap<String, Integer> index;
    private final ArrayDeque<Inflater> inflaters = new ArrayDeque<Inflater>();

    ZipCatalog(FileRegion region) throws IOException {
        this.region = region;
        // One read from the end usually brings the end record and the whole
        // central directory.
        long length = region.length();
        int tailLength = (int) Math.min(length, END_SIZE + MAX_COMMENT + 1024L);
        byte[] tail = new byte[tailLength];
        long tailStart = length - tailLength;
        region.readFully(tailStart, tail, 0, tailLength);
        int end = findEndRecord(tail, tailStart);
        long endPosition = tailStart + end;
        int count = u16(tail, end + 10);
        long directorySize = u32(tail, end + 12);
        long directoryOffset = u32(tail, end + 16);
        if (count == 0xffff || directorySize == 0xffffffffL || directoryOffset == 0xffffffffL) {
            throw new ZipException("ZIP64 archives are not supported: " + region.file());
        }
        long archiveStart = endPosition - directorySize - directoryOffset;
        if (archiveStart < 0) {
            throw new ZipException("Invalid central directory in " + region.file());
        }
        byte[] directory;
        int at;
        if (endPosition - directorySize >= tailStart) {
            directory = tail;
            at = (int) (endPosition - directorySize - tailStart);
        } else {
            directory = new byte[(int) directorySize];
            region.readFully(endPosition - directorySize, directory, 0, directory.length);
            at = 0;
        }
        int limit = at + (int) directorySize;

        names = new String[count];
        methods = new int[count];
        compressedSizes = new long[count];
        sizes = new long[count];
        headerOffsets = new long[count];
        nameLengths = new int[count];
        crcs = new int[count];
        dosTimes = new int[count];
        dataOffsets = new long[count];
        index = new HashMap<String, Integer>(count * 2);
        for (int i = 0; i < count; i++) {
            if (at + CENTRAL_SIZE > limit || (int) u32(directory, at) != CENTRAL_SIGNATURE) {
                throw new ZipException("Invalid central directory entry " + i + " in " + region.file());
            }
            int nameLength = u16(directory, at + 28);
            int extraLength = u16(directory, at + 30);
            int commentLength = u16(directory, at + 32);
            methods[i] = u16(directory, at + 10);
            dosTimes[i] = (int) u32(directory, at + 12);
            crcs[i] = (int) u32(directory, at + 16);
            compressedSizes[i] = u32(directory, at + 20);
            sizes[i] = u32(directory, at + 24);
            headerOffsets[i] = archiveStart + u32(directory, at + 42);
            nameLengths[i] = nameLength;
            dataOffsets[i] = -1;
            if (at + CENTRAL_SIZE + nameLength > limit) {
                throw new ZipException("Truncated central directory in " + region.file());
            }
            names[i] = name(directory, at + CENTRAL_SIZE, nameLength);
            index.put(names[i], i);
            at += CENTRAL_SIZE + nameLength + extraLength + commentLength;
        }
    }

    /**
     * An entry name, decoded as UTF-8. Names are nearly always ASCII, which is
     * decoded here without the charset machinery, still cold at start-up.
     */
    @SuppressWarnings("deprecation")
    private static String name(byte[] directory, int at, int length) {
        for (int k = at, end = at + length; k < end; k++) {
            if (directory[k] < 0) {
                return new String(directory, at, length, StandardCharsets.UTF_8);
            }
        }
        return new String(directory, 0, at, length);
    }

    /**
     * Searches the tail of the region backwards for the end record and returns
     * its position in the tail. Bytes may follow it; a candidate counts only
     * when the directory it describes starts with a directory-entry signature
     * (or is empty).
     */
    private int findEndRecord(byte[] tail, long tailStart) throws IOException {
        for (int at = tail.length - END_SIZE; at >= 0; at--) {
            if ((int) u32(tail, at) != END_SIGNATURE) {
                continue;
            }
            long position = tailStart + at;
            long directorySize = u32(tail, at + 12);
            long directoryOffset = u32(tail, at + 16);
            if (directorySize > position || directoryOffset > position - directorySize) {
                continue;
            }
            if (directorySize > 0 && !startsWithCentralSignature(position - directorySize, tail, tailStart)) {
                continue;
            }
            return at;
        }
        throw new ZipException("Not a ZIP archive (no end record): " + region.file());
    }

    private boolean startsWithCentralSignature(long position, byte[] tail, long tailStart) throws IOException {
        if (position >= tailStart) {
            return (int) u32(tail, (int) (position - tailStart)) == CENTRAL_SIGNATURE;
        }
        byte[] signature = new byte[4];
        region.readFully(position, signature, 0, 4);
        return (int) u32(signature, 0) == CENTRAL_SIGNATURE;
    }

    int size() {
        return names.length;
    }

    int indexOf(String name) {
        Integer i = index.get(name);
        return i == null ? -1 : i;
    }

    String name(int i) {
        return names[i];
    }

    int method(int i) {
        return methods[i];
    }

    long size(int i) {
        return sizes[i];
    }

    long compressedSize(int i) {
        return compressedSizes[i];
    }

    int crc(int i) {
        return crcs[i];
    }

    int dosTime(int i) {
        return dosTimes[i];
    }

    FileRegion region() {
        return region;
    }

    List<String> names() {
        List<String> list = new ArrayList<String>(names.length);
        for (String name : names) {
            list.add(name);
        }
        return list;
    }

    /** Whether any entry's name starts with the given directory name. */
    boolean hasEntriesUnder(String directory) {
        if (index.containsKey(directory)) {
            return true;
        }
        for (String name : names) {
            if (name.startsWith(directory)) {
                return true;
            }
        }
        return false;
    }

    /** The bytes of a stored entry as a region of its own: how nested jars are opened. */
    FileRegion storedRegion(int i) throws IOException {
        if (methods[i] != STORED) {
            throw new ZipException("Entry " + names[i] + " is compressed");
        }
        return region.subRegion(dataOffset(i), compressedSizes[i]);
    }

    /** The whole uncompressed content of an entry. */
    byte[] read(int i) throws IOException {
        long compressed = compressedSizes[i];
        long size = sizes[i];
        if (compressed > Integer.MAX_VALUE - 1024 || size > Integer.MAX_VALUE - 1024) {
            throw new IOException("Entry too large to read at once: " + names[i]);
        }
        // One read normally brings the local header and the data together: the
        // local name has the central name's length and the extra field is
        // usually empty or short.
        long headerOffset = headerOffsets[i];
        int guess = LOCAL_SIZE + nameLengths[i] + 64 + (int) compressed;
        byte[] buffer = new byte[guess];
        int got = region.readAtMost(headerOffset, buffer, 0, guess);
        int dataStart = localDataStart(i, buffer, got);
        if (dataStart + compressed > got) {
            buffer = new byte[(int) compressed];
            region.readFully(headerOffset + dataStart, buffer, 0, buffer.length);
            dataStart = 0;
        }
        if (methods[i] == STORED) {
            byte[] content = new byte[(int) compressed];
            System.arraycopy(buffer, dataStart, content, 0, content.length);
            return content;
        }
        if (methods[i] == DEFLATED) {
            return inflate(i, buffer, dataStart, (int) compressed, (int) size);
        }
        throw new ZipException("Unsupported compression method " + methods[i] + " for " + names[i]);
    }

    /** A stream over an entry's uncompressed content. */
    InputStream open(int i) throws IOException {
        if (sizes[i] <= WHOLE_READ_LIMIT && compressedSizes[i] <= WHOLE_READ_LIMIT) {
            return new ByteArrayInputStream(read(i));
        }
        long data = dataOffset(i);
        if (methods[i] == STORED) {
            return RegionStream.stored(region, data, compressedSizes[i]);
        }
        if (methods[i] == DEFLATED) {
            return RegionStream.deflated(region, data, compressedSizes[i]);
        }
        throw new ZipException("Unsupported compression method " + methods[i] + " for " + names[i]);
    }

    private long dataOffset(int i) throws IOException {
        long known = dataOffsets[i];
        if (known >= 0) {
            return known;
        }
        byte[] header = new byte[LOCAL_SIZE];
        region.readFully(headerOffsets[i], header, 0, LOCAL_SIZE);
        long offset = headerOffsets[i] + localDataStart(i, header, LOCAL_SIZE);
        dataOffsets[i] = offset;
        return offset;
    }

    /** Offset of the data from the local header, checked against the signature. */
    private int localDataStart(int i, byte[] header, int available) throws IOException {
        if (available < LOCAL_SIZE || (int) u32(header, 0) != LOCAL_SIGNATURE) {
            throw new ZipException("Invalid local header for " + names[i] + " in " + region.file());
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
                throw new ZipException("Truncated deflated data for " + names[i]);
            }
            return output;
        } catch (DataFormatException e) {
            throw new ZipException("Invalid deflated data for " + names[i] + ": " + e.getMessage());
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

    private static int u16(byte[] b, int at) {
        return (b[at] & 0xff) | (b[at + 1] & 0xff) << 8;
    }

    private static long u32(byte[] b, int at) {
        return ((long) u16(b, at) | (long) u16(b, at + 2) << 16) & 0xffffffffL;
    }
}
