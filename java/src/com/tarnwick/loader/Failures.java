package com.tarnwick.loader;

import java.io.EOFException;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.util.zip.ZipException;

/**
 * The exceptions that the archive classes throw, made here. A class that
 * throws an exception type by name loads that type when it is verified, on
 * every start; made through this class, a type is loaded only when something
 * has actually gone wrong.
 */
final class Failures {

    private Failures() {
    }

    static IOException zip(String message) {
        return new ZipException(message);
    }

    static IOException notFound(String message) {
        return new FileNotFoundException(message);
    }

    static IOException endOfData(String message) {
        return new EOFException(message);
    }

    static RuntimeException illegalState(String message) {
        return new IllegalStateException(message);
    }

    static RuntimeException illegalState(String message, Throwable cause) {
        return new IllegalStateException(message, cause);
    }
}
