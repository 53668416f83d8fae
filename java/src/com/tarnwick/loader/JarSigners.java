package com.tarnwick.loader;

import java.io.IOException;
import java.io.InputStream;
import java.security.CodeSigner;
import java.util.HashMap;
import java.util.Map;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarInputStream;

/**
 * The signers of the entries of a signed jar, verified as the JDK verifies
 * them: an entry's signers are known once its bytes have been read and checked
 * against the signed digests. Only signed jars load this class.
 *
 * A jar that is a file of its own is verified entry by entry through a
 * verifying JarFile. A nested jar has no file of its own, so it is verified in
 * one pass over its bytes the first time one of its classes asks.
 */
final class JarSigners {

    private static final CodeSigner[] NONE = new CodeSigner[0];

    private final ZipRoot root;
    private JarFile file;
    private Map<String, CodeSigner[]> nested;

    private JarSigners(ZipRoot root) {
        this.root = root;
    }

    static JarSigners of(ZipRoot root) {
        return new JarSigners(root);
    }

    /**
     * The verified signers of an entry, or null when it is unsigned or cannot
     * be verified. An entry whose bytes do not match the signed digest throws
     * the JDK's SecurityException, as on the class path.
     */
    synchronized CodeSigner[] signersOf(String entryName) {
        try {
            CodeSigner[] signers = root.isWholeFile() ? fileSigners(entryName) : nestedSigners().get(entryName);
            return signers == null || signers.length == 0 ? null : signers;
        } catch (IOException e) {
            return null;
        }
    }

    private CodeSigner[] fileSigners(String entryName) throws IOException {
        if (file == null) {
            file = new JarFile(root.file(), true);
        }
        JarEntry entry = file.getJarEntry(entryName);
        if (entry == null) {
            return null;
        }
        InputStream in = file.getInputStream(entry);
        try {
            drain(in);
        } finally {
            in.close();
        }
        return entry.getCodeSigners();
    }

    private Map<String, CodeSigner[]> nestedSigners() throws IOException {
        if (nested == null) {
            Map<String, CodeSigner[]> signers = new HashMap<String, CodeSigner[]>();
            JarInputStream in = new JarInputStream(root.openWhole(), true);
            try {
                for (JarEntry entry = in.getNextJarEntry(); entry != null; entry = in.getNextJarEntry()) {
                    drain(in);
                    CodeSigner[] found = entry.getCodeSigners();
                    signers.put(entry.getName(), found == null ? NONE : found);
                }
            } finally {
                in.close();
            }
            nested = signers;
        }
        return nested;
    }

    private static void drain(InputStream in) throws IOException {
        byte[] buffer = new byte[8192];
        while (in.read(buffer) >= 0) {
            // Reading to the end is what verifies the entry.
        }
    }
}
