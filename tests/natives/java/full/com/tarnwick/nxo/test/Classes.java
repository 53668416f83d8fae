package com.tarnwick.nxo.test;

import java.io.InputStream;
import java.lang.reflect.Constructor;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLConnection;

/** Helpers that the native tests call through JNI. */
public final class Classes extends ClassLoader {
    private Classes() {
        super(Classes.class.getClassLoader());
    }

    /**
     * Defines the class in a fresh loader, creates an instance and describes
     * the class: name, modifiers, superclass, constructors, methods, fields.
     */
    public static String defineAndDescribe(byte[] bytes) throws Exception {
        Class<?> c = new Classes().defineClass(null, bytes, 0, bytes.length);
        Object instance = c.getConstructor().newInstance();
        Constructor<?>[] constructors = c.getDeclaredConstructors();
        return instance.getClass().getName() + "|" + Modifier.toString(c.getModifiers()) + "|"
                + c.getSuperclass().getName() + "|" + constructors.length + " "
                + Modifier.toString(constructors[0].getModifiers()) + " constructor("
                + constructors[0].getParameterCount() + ")|" + c.getDeclaredMethods().length
                + " methods|" + c.getDeclaredFields().length + " fields";
    }

    /** The bytes behind a URL through its scheme's handler; null for a null stream. */
    public static byte[] read(String url) throws Exception {
        URLConnection connection = new URL(url).openConnection();
        try (InputStream in = connection.getInputStream()) {
            return in == null ? null : in.readAllBytes();
        }
    }
}
