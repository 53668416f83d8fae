package com.tarnwick.nxo;

import java.net.URL;
import java.security.CodeSource;
import java.util.Enumeration;

/**
 * Test stand-in shaped like the shipped class loader: only three natives,
 * findClass and findResource in Java, no getEmbeddedJars, and no Handler
 * class beside it.
 */
public class KestrelClassLoader extends ClassLoader {
    protected Class<?> findClass(String name) throws ClassNotFoundException {
        throw new ClassNotFoundException(name);
    }

    protected native Class<?> defineClass(String name, CodeSource codeSource);

    protected native URL findResource0(String name);

    public native Enumeration<URL> findResources(String name);
}
