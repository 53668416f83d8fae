package com.tarnwick.loader;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.MalformedURLException;
import java.net.URI;
import java.net.URL;
import java.net.URLStreamHandler;
import java.security.CodeSigner;
import java.security.CodeSource;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.jar.Manifest;
import java.util.jar.JarFile;

/**
 * A ZIP archive seen as a class-path root: a jar file, the outer archive, a
 * stored jar nested in it, or a directory of the outer archive such as
 * "BOOT-INF/classes/" (then every name is looked up under that prefix).
 */
final class ZipRoot extends ClassPathRoot {

    private static final URLStreamHandler HANDLER = new com.tarnwick.loader.jar.Handler();

    /**
     * The archives opened so far, by archive path. Each is opened once and kept
     * for the life of the process, so class loading and URL connections share
     * one parsed directory per archive.
     */
    private static final ConcurrentHashMap<String, ZipRoot> ROOTS = new ConcurrentHashMap<String, ZipRoot>();
    private static final String META_INF = "META-INF/";
    private static final String MULTI_RELEASE = "Multi-Release";
    /** Versions up to this one are the base entries of a multi-release jar. */
    private static final int BASE_VERSION = 8;

    private final ZipCatalog catalog;
    private final String prefix;
    private final String archivePath;
    private final File file;
    private final URL url;
    /** The code-source location when it differs from url: set for jars named by file URLs. */
    private URL location;
    /** For a jar with versioned entries: base name to the versioned name used. */
    private volatile Map<String, String> versionedNames;
    /** Null until a class is defined from this root; then UNSIGNED or the jar's JarSigners. */
    private volatile Object signatures;
    private static final Object UNSIGNED = new Object();
    /** The JarFile view that jar connections hand out, made on first request. */
    volatile JarFile jarFile;

    ZipRoot(ZipCatalog catalog, String prefix, String archivePath) throws MalformedURLException {
        this.catalog = catalog;
        this.prefix = prefix;
        this.archivePath = archivePath;
        this.file = catalog.file();
        this.url = new URL("jar", "", -1, archivePath + SEPARATOR, HANDLER);
    }

    /**
     * The archive at an archive path such as "file:/app/run!/BOOT-INF/lib/a.jar":
     * a file URL followed by one "!/name" per level of nesting.
     */
    static ZipRoot of(String archivePath) throws IOException {
        ZipRoot known = ROOTS.get(archivePath);
        if (known != null) {
            return known;
        }
        ZipRoot opened;
        int separator = archivePath.lastIndexOf(SEPARATOR);
        if (separator < 0) {
            opened = new ZipRoot(ZipCatalog.open(toFile(archivePath)), "", archivePath);
        } else {
            ZipRoot parent = of(archivePath.substring(0, separator));
            String name = decode(archivePath.substring(separator + SEPARATOR.length()));
            opened = parent.child(name, archivePath);
        }
        known = ROOTS.putIfAbsent(archivePath, opened);
        return known == null ? opened : known;
    }

    /** Makes a URL of the jar scheme that this layer's handler serves. */
    static URL jarUrl(String file) throws MalformedURLException {
        return new URL("jar", "", -1, file, HANDLER);
    }

    /** The archive path: a file URL followed by one "!/name" per nesting level. */
    String archivePath() {
        return archivePath;
    }

    File file() {
        return file;
    }

    boolean isWholeFile() {
        return prefix.isEmpty() && archivePath.indexOf(SEPARATOR) < 0;
    }

    @Override
    URL url() {
        return url;
    }

    @Override
    URL location() {
        return location != null ? location : url;
    }

    /**
     * This jar as a "file:" class-path entry: its classes' code source names
     * the file, as on the JDK's class path, so that a library can open the jar
     * its code source names.
     */
    ZipRoot asFileEntry(URL fileUrl) throws MalformedURLException {
        ZipRoot entry = new ZipRoot(catalog, prefix, archivePath);
        entry.location = fileUrl;
        return entry;
    }

    /**
     * The catalog entry for a name. In a multi-release jar that is the entry of
     * the highest version the runtime accepts, as JarFile picks it.
     */
    int indexOf(String name) {
        if (prefix.isEmpty()) {
            return catalog.indexOf(catalog.hasVersionedEntries() ? versionedName(name) : name);
        }
        return catalog.indexOf(prefix.concat(name));
    }

    /**
     * The name of the entry that stands for a name: "META-INF/versions/K/" +
     * name for the highest K from 9 up to the runtime's version that has one,
     * when the jar's manifest says "Multi-Release: true"; else the name itself.
     * Names under "META-INF/" are never versioned.
     */
    private String versionedName(String name) {
        if (name.startsWith(META_INF)) {
            return name;
        }
        Map<String, String> versioned = versionedNames;
        if (versioned == null) {
            versioned = readVersionedNames();
            versionedNames = versioned;
        }
        String real = versioned.get(name);
        return real == null ? name : real;
    }

    private Map<String, String> readVersionedNames() {
        Manifest manifest = manifest();
        int runtime = runtimeVersion();
        if (manifest == null || runtime <= BASE_VERSION
                || !"true".equalsIgnoreCase(manifest.getMainAttributes().getValue(MULTI_RELEASE))) {
            return Collections.emptyMap();
        }
        Map<String, String> names = new HashMap<String, String>();
        Map<String, Integer> versions = new HashMap<String, Integer>();
        String versionsDirectory = META_INF + "versions/";
        for (int i = 0, n = catalog.size(); i < n; i++) {
            String real = catalog.name(i);
            if (!real.startsWith(versionsDirectory)) {
                continue;
            }
            int slash = real.indexOf('/', versionsDirectory.length());
            if (slash < 0 || slash == real.length() - 1 || real.endsWith("/")) {
                continue;
            }
            int version;
            try {
                version = Integer.parseInt(real.substring(versionsDirectory.length(), slash));
            } catch (NumberFormatException e) {
                continue;
            }
            String base = real.substring(slash + 1);
            Integer known = versions.get(base);
            if (version > BASE_VERSION && version <= runtime && (known == null || known < version)) {
                versions.put(base, version);
                names.put(base, real);
            }
        }
        return names;
    }

    /**
     * The version whose entries a multi-release jar gives, as JarFile works it
     * out: the runtime's feature version, lowered by "jdk.util.jar.version".
     */
    static int runtimeVersion() {
        int runtime = featureVersion(System.getProperty("java.specification.version"));
        String configured = System.getProperty("jdk.util.jar.version");
        if (configured != null) {
            int asked = featureVersion(configured);
            if (asked > 0 && asked < runtime) {
                runtime = asked;
            }
        }
        return runtime;
    }

    private static int featureVersion(String text) {
        if (text == null) {
            return BASE_VERSION;
        }
        String feature = text.startsWith("1.") ? text.substring(2) : text;
        int end = 0;
        while (end < feature.length() && Character.isDigit(feature.charAt(end))) {
            end++;
        }
        try {
            return Integer.parseInt(feature.substring(0, end));
        } catch (NumberFormatException e) {
            return BASE_VERSION;
        }
    }

    @Override
    boolean contains(String name) {
        return indexOf(name) >= 0;
    }

    @Override
    byte[] read(String name) throws IOException {
        int i = indexOf(name);
        return i < 0 ? null : catalog.read(i);
    }

    @Override
    InputStream open(String name) throws IOException {
        int i = indexOf(name);
        return i < 0 ? null : catalog.open(i);
    }

    /** The URL of the entry actually used for a name: a versioned one in a multi-release jar. */
    @Override
    URL resourceUrl(String name) throws MalformedURLException {
        return jarUrl(archivePath + SEPARATOR + encode(realName(name)));
    }

    /** A stream over the whole region of this archive: a nested jar as its bytes. */
    InputStream openWhole() {
        return RegionStream.stored(catalog, 0, catalog.regionLength());
    }

    /**
     * A signed jar gives each class the signers of its entry, verified when
     * first asked for; an unsigned one, told by its manifest having no entry
     * sections, gives the root's code source and costs nothing more.
     */
    @Override
    CodeSource codeSource(String name) {
        CodeSigner[] signers = signersOf(name);
        return signers == null ? codeSource() : new CodeSource(location(), signers);
    }

    /** The verified signers of the entry that stands for a name; null in an unsigned jar. */
    CodeSigner[] signersOf(String name) {
        Object known = signatures;
        if (known == null) {
            known = isSigned() ? JarSigners.of(this) : UNSIGNED;
            signatures = known;
        }
        return known == UNSIGNED ? null : ((JarSigners) known).signersOf(realName(name));
    }

    /** A jar whose manifest lists entry digests and that holds a signature file. */
    private boolean isSigned() {
        Manifest manifest = prefix.isEmpty() ? manifest() : null;
        if (manifest == null || manifest.getEntries().isEmpty()) {
            return false;
        }
        for (int i = 0, n = catalog.size(); i < n; i++) {
            String name = catalog.name(i);
            if (name.startsWith(META_INF) && name.indexOf('/', META_INF.length()) < 0
                    && name.regionMatches(true, name.length() - 3, ".SF", 0, 3)) {
                return true;
            }
        }
        return false;
    }

    /** The name of the entry that stands for a name (in a multi-release jar, the versioned one). */
    String realName(String name) {
        return prefix.isEmpty() && catalog.hasVersionedEntries() ? versionedName(name) : name;
    }

    /**
     * Opens an archive one level down: a stored jar entry read in place, or a
     * directory of this archive. A compressed jar cannot be read in place and is
     * refused.
     */
    ZipRoot child(String name, String childPath) throws IOException {
        int i = name.endsWith("/") ? -1 : indexOf(name);
        if (i >= 0) {
            if (catalog.method(i) != ZipCatalog.STORED) {
                throw Failures.zip("Nested jar " + prefix + name + " in " + archivePath
                        + " is compressed; nested jars must be stored without compression");
            }
            return new ZipRoot(catalog.nested(i), "", childPath);
        }
        String directory = prefix + (name.endsWith("/") ? name : name + "/");
        if (catalog.hasEntriesUnder(directory)) {
            return new ZipRoot(catalog, directory, childPath);
        }
        throw Failures.notFound("No nested archive " + name + " in " + archivePath);
    }

    /** Names of the entries of this root, relative to it. */
    List<String> names() {
        List<String> names = new ArrayList<String>();
        for (int i = 0, n = catalog.size(); i < n; i++) {
            String name = relativeName(i);
            if (name != null) {
                names.add(name);
            }
        }
        return names;
    }

    /** The name of catalog entry i relative to this root, or null when it lies outside. */
    String relativeName(int i) {
        String name = catalog.name(i);
        if (prefix.isEmpty()) {
            return name.isEmpty() ? null : name;
        }
        return name.length() > prefix.length() && name.startsWith(prefix) ? name.substring(prefix.length()) : null;
    }

    int catalogSize() {
        return catalog.size();
    }

    ZipCatalog catalog() {
        return catalog;
    }

    // Text forms used in nested URLs: "jar:" + archive path + "!/" + entry,
    // where the archive path is a file URL followed by one "!/name" per level
    // of nesting. They live here, not in a class of their own, because every
    // class on the start path costs a load and a verification.

    static final String SEPARATOR = "!/";

    /**
     * The file URL text of a file, as the JDK writes it. Plain paths are
     * written here directly: the JDK's way parses the text it has just built as
     * a URI, which is slow while everything still runs interpreted.
     */
    static String fileUrlText(File file) {
        File absolute = file.getAbsoluteFile();
        String path = absolute.getPath();
        if (File.separatorChar == '/' && path.startsWith("/") && !path.startsWith("//") && isPlainPath(path)) {
            return absolute.isDirectory() && !path.endsWith("/") ? "file:" + path + "/" : "file:" + path;
        }
        return absolute.toURI().toString();
    }

    /** Whether a path needs no escaping in a URI: its characters stand as they are. */
    private static boolean isPlainPath(String path) {
        for (int i = 0, n = path.length(); i < n; i++) {
            char c = path.charAt(i);
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || "/-_.~*'()!:@&=+$,;".indexOf(c) >= 0)) {
                return false;
            }
        }
        return true;
    }

    static File toFile(String fileUrlText) {
        if (File.separatorChar == '/' && fileUrlText.startsWith("file:/") && !fileUrlText.startsWith("file://")
                && isPlainPath(fileUrlText.substring(5))) {
            // Nothing escaped and nothing to resolve: the path is the text after the scheme.
            return new File(fileUrlText.substring(5));
        }
        try {
            return new File(new URI(fileUrlText));
        } catch (Exception e) {
            // Not a strict URI (spaces, a stray authority): take the path as it stands.
            String path = fileUrlText.regionMatches(true, 0, "file:", 0, 5) ? fileUrlText.substring(5) : fileUrlText;
            if (path.startsWith("//")) {
                int slash = path.indexOf('/', 2);
                path = slash < 0 ? "" : path.substring(slash);
            }
            return new File(decode(path));
        }
    }

    /** Percent-encodes the characters that may not stand in a URL path, and "!". */
    static String encode(String name) {
        int n = name.length();
        int i = 0;
        while (i < n && isPlain(name.charAt(i))) {
            i++;
        }
        if (i == n) {
            return name;
        }
        StringBuilder out = new StringBuilder(n + 16).append(name, 0, i);
        byte[] bytes = name.substring(i).getBytes(StandardCharsets.UTF_8);
        for (byte b : bytes) {
            char c = (char) (b & 0xff);
            if (c < 0x80 && isPlain(c)) {
                out.append(c);
            } else {
                out.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
                        .append(Character.toUpperCase(Character.forDigit(c & 0xf, 16)));
            }
        }
        return out.toString();
    }

    private static boolean isPlain(char c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            return true;
        }
        return "/-_.~$&'()*+,;=:@".indexOf(c) >= 0;
    }

    static String decode(String text) {
        if (text.indexOf('%') < 0) {
            return text;
        }
        int n = text.length();
        StringBuilder out = new StringBuilder(n);
        int i = 0;
        while (i < n) {
            if (!isEscape(text, i)) {
                out.append(text.charAt(i));
                i++;
                continue;
            }
            // A run of escapes is one UTF-8 byte sequence.
            ByteArrayOutputStream run = new ByteArrayOutputStream();
            while (isEscape(text, i)) {
                run.write(Character.digit(text.charAt(i + 1), 16) << 4 | Character.digit(text.charAt(i + 2), 16));
                i += 3;
            }
            out.append(new String(run.toByteArray(), StandardCharsets.UTF_8));
        }
        return out.toString();
    }

    private static boolean isEscape(String text, int i) {
        return i + 2 < text.length() && text.charAt(i) == '%'
                && Character.digit(text.charAt(i + 1), 16) >= 0
                && Character.digit(text.charAt(i + 2), 16) >= 0;
    }

    @Override
    public String toString() {
        return archivePath;
    }
}
