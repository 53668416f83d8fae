package com.tarnwick.loader;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.net.URI;
import java.nio.charset.StandardCharsets;

/**
 * Text forms used in nested URLs: "jar:" + archive path + "!/" + entry, where
 * the archive path is a file URL followed by one "!/name" per level of nesting.
 */
final class UrlText {

    static final String SEPARATOR = "!/";

    private UrlText() {
    }

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
}
