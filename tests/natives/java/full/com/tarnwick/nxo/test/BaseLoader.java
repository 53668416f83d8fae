package com.tarnwick.nxo.test;

import java.io.IOException;
import java.net.MalformedURLException;
import java.net.URL;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** Stands in for the archive loader that the launcher's class loader extends. */
public class BaseLoader extends ClassLoader {
    /** A name whose lookups throw, to see failures pass through the natives. */
    public static final String FAILING = "failing/resource";
    /** A name for which findResources answers null instead of an enumeration. */
    public static final String NULL_ENUMERATION = "null/enumeration";

    private final Map<String, List<URL>> resources = new HashMap<>();

    public BaseLoader() {
        super(null);
    }

    public void put(String name, String url) throws MalformedURLException {
        resources.computeIfAbsent(name, k -> new ArrayList<>()).add(new URL(url));
    }

    @Override
    protected URL findResource(String name) {
        if (FAILING.equals(name)) throw new IllegalStateException("base findResource failed");
        List<URL> urls = resources.get(name);
        return urls == null ? null : urls.get(0);
    }

    @Override
    protected Enumeration<URL> findResources(String name) throws IOException {
        if (FAILING.equals(name)) throw new IOException("base findResources failed");
        if (NULL_ENUMERATION.equals(name)) return null;
        List<URL> urls = resources.get(name);
        return Collections.enumeration(urls == null ? List.of() : urls);
    }
}
