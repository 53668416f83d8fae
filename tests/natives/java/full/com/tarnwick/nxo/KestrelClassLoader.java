package com.tarnwick.nxo;

import java.net.URL;
import java.security.CodeSource;
import java.util.Enumeration;

/**
 * Test stand-in declaring every class-loader native of the launcher,
 * including those the shipped class implements in Java.
 */
public class KestrelClassLoader extends com.tarnwick.nxo.test.BaseLoader {
    /** What the static initialiser saw: natives bound before the class was found. */
    public static final String registeredAtInit = System.getProperty("nxo.natives.registered");

    protected native Class<?> findClass(String name);

    protected native Class<?> defineClass(String name, CodeSource codeSource);

    protected native URL findResource0(String name);

    public native URL findResource(String name);

    public native Enumeration<URL> findResources(String name);

    public native String[] getEmbeddedJars();
}
