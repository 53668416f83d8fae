package com.tarnwick.loader.jar;

import com.tarnwick.loader.NestedJarURLConnection;

import java.io.IOException;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;
import java.util.ArrayList;
import java.util.List;

/**
 * Handler of the "jar" scheme that also understands nested archives:
 * jar:file:/app/run!/BOOT-INF/lib/a.jar!/com/x/res.txt. The JDK finds it
 * through "java.protocol.handler.pkgs" once {@link #register} has run; URLs
 * that the class loader makes carry it directly.
 */
public class Handler extends URLStreamHandler {

    /** The package prefix that names this handler to the JDK. */
    public static final String PACKAGE_PREFIX = "com.tarnwick.loader";

    private static final String HANDLER_PACKAGES = "java.protocol.handler.pkgs";
    private static final String SEPARATOR = "!/";
    private static boolean registered;

    @Override
    protected URLConnection openConnection(URL url) throws IOException {
        return NestedJarURLConnection.open(url);
    }

    /**
     * Adds this handler's package to "java.protocol.handler.pkgs", so that
     * {@code new URL("jar:...")} reaches it too. The JDK remembers the handler
     * it found for each scheme, and the default jar handler has usually been
     * looked up by the time an application starts; resetting the (absent)
     * stream handler factory empties that memory so "jar" is looked up anew.
     */
    public static synchronized void register() {
        if (registered) {
            return;
        }
        String packages = System.getProperty(HANDLER_PACKAGES);
        if (packages == null || packages.isEmpty()) {
            System.setProperty(HANDLER_PACKAGES, PACKAGE_PREFIX);
        } else if (!names(packages, PACKAGE_PREFIX)) {
            System.setProperty(HANDLER_PACKAGES, packages + "|" + PACKAGE_PREFIX);
        }
        try {
            URL.setURLStreamHandlerFactory(null);
        } catch (Error e) {
            // The application installed a factory of its own; it decides.
        }
        registered = true;
    }

    private static boolean names(String packages, String prefix) {
        for (String name : packages.split("\\|")) {
            if (name.trim().equals(prefix)) {
                return true;
            }
        }
        return false;
    }

    /**
     * Parses an absolute "jar:" URL text, or one relative to a jar URL: a relative
     * path resolves against the entry part after the last "!/", never across it.
     */
    @Override
    protected void parseURL(URL url, String text, int start, int limit) {
        String part = text.substring(start, limit);
        boolean absolute = start >= 4 && text.regionMatches(true, start - 4, "jar:", 0, 4);
        String file;
        if (absolute) {
            int separator = part.indexOf(SEPARATOR);
            if (separator < 0) {
                throw new IllegalArgumentException("no !/ in URL: " + text);
            }
            int last = part.lastIndexOf(SEPARATOR);
            file = part.substring(0, last + 2) + canonical(part.substring(last + 2));
        } else {
            String context = url.getFile();
            int separator = context == null ? -1 : context.lastIndexOf(SEPARATOR);
            if (separator < 0) {
                throw new IllegalArgumentException("no !/ in context of: " + text);
            }
            String base = context.substring(0, separator + 2);
            String entry = context.substring(separator + 2);
            String path;
            if (part.startsWith("/")) {
                path = part.substring(1);
            } else if (part.isEmpty()) {
                path = entry;
            } else {
                path = entry.substring(0, entry.lastIndexOf('/') + 1) + part;
            }
            file = base + canonical(path);
        }
        setURL(url, "jar", "", -1, null, null, file, null, url.getRef());
    }

    /** Resolves "." and ".." segments of an entry path. */
    static String canonical(String path) {
        if (!path.contains("./") && !path.endsWith("/.") && !path.endsWith("/..")
                && !path.equals(".") && !path.equals("..")) {
            return path;
        }
        List<String> kept = new ArrayList<String>();
        String[] segments = path.split("/", -1);
        boolean directory = false;
        for (String segment : segments) {
            directory = false;
            if (segment.equals(".")) {
                directory = true;
            } else if (segment.equals("..")) {
                if (!kept.isEmpty()) {
                    kept.remove(kept.size() - 1);
                }
                directory = true;
            } else if (!segment.isEmpty() || kept.isEmpty()) {
                kept.add(segment);
            } else {
                directory = true;
            }
        }
        StringBuilder out = new StringBuilder(path.length());
        for (int i = 0; i < kept.size(); i++) {
            if (i > 0) {
                out.append('/');
            }
            out.append(kept.get(i));
        }
        if (directory && out.length() > 0) {
            out.append('/');
        }
        return out.toString();
    }

    @Override
    protected int hashCode(URL url) {
        return url.toExternalForm().hashCode();
    }

    @Override
    protected boolean equals(URL a, URL b) {
        return a.toExternalForm().equals(b.toExternalForm());
    }

    @Override
    protected boolean sameFile(URL a, URL b) {
        return a.getProtocol().equals(b.getProtocol()) && String.valueOf(a.getFile()).equals(String.valueOf(b.getFile()));
    }
}
