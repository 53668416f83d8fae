package com.tarnwick.nxo;

import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;

/**
 * Deserialises with a chosen class loader, so that objects received from
 * another instance resolve to the application's classes.
 */
public class ClassLoaderObjectInputStream extends ObjectInputStream {

    private ClassLoader classLoader;

    public ClassLoaderObjectInputStream(InputStream in, ClassLoader classLoader) throws IOException {
        super(in);
        this.classLoader = classLoader;
    }

    @Override
    protected Class<?> resolveClass(ObjectStreamClass descriptor) throws IOException, ClassNotFoundException {
        try {
            return Class.forName(descriptor.getName(), false, classLoader);
        } catch (ClassNotFoundException e) {
            return super.resolveClass(descriptor);
        }
    }
}
