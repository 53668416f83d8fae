package com.tarnwick.loader;

import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.security.CodeSigner;
import java.security.CodeSource;
import java.util.jar.Manifest;

/** One place the class loader looks for classes and resources, in class-path order. */
abstract class ClassPathRoot {

    private volatile CodeSource codeSource;
    private volatile Manifest manifest;
    private volatile boolean manifestRead;

    /** The class-path URL of this root, also the location of its classes' code source. */
    abstract URL url();

    abstract boolean contains(String name);

    /** The whole content of the named resource, or null when this root has none. */
    abstract byte[] read(String name) throws IOException;

    /** A stream over the named resource, or null when this root has none. */
    abstract InputStream open(String name) throws IOException;

    /** The URL of a resource that {@link #contains} reported. */
    abstract URL resourceUrl(String name) throws IOException;

    /** The root's manifest, or null; read at the first call. */
    final Manifest manifest() {
        if (!manifestRead) {
            Manifest read = null;
            try {
                InputStream in = open("META-INF/MANIFEST.MF");
                if (in != null) {
                    try {
                        read = new Manifest(in);
                    } finally {
                        in.close();
                    }
                }
            } catch (IOException e) {
                // An unreadable manifest counts as none, as for the JDK's class path.
                read = null;
            }
            manifest = read;
            manifestRead = true;
        }
        return manifest;
    }

    /**
     * The code source of the named class: the root's own, unless the root is a
     * signed jar, where it carries the signers of that entry.
     */
    CodeSource codeSource(String name) {
        return codeSource();
    }

    /** Where this root's classes come from, as their code source names it. */
    URL location() {
        return url();
    }

    final CodeSource codeSource() {
        CodeSource known = codeSource;
        if (known == null) {
            known = new CodeSource(location(), (CodeSigner[]) null);
            codeSource = known;
        }
        return known;
    }
}
