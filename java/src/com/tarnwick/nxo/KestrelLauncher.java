package com.tarnwick.nxo;

import com.tarnwick.loader.Archive;
import com.tarnwick.loader.ExecutableArchiveLauncher;

import java.net.URL;
import java.util.List;

/**
 * The class the native launcher starts. The launcher stores the configured
 * main class in {@link #startClass} and calls {@link #main}; the application's
 * jars come from "BOOT-INF/lib/" of the executable's own archive.
 */
public class KestrelLauncher extends ExecutableArchiveLauncher {

    public static final String BOOT_INF_CLASSES = "BOOT-INF/classes/";
    public static final String BOOT_INF_LIB = "BOOT-INF/lib/";
    public static final String WEB_INF = "WEB-INF/";
    public static final String WEB_INF_CLASSES = "WEB-INF/classes/";
    public static final String WEB_INF_LIB = "WEB-INF/lib/";
    public static final String WEB_INF_LIB_PROVIDED = "WEB-INF/lib-provided/";

    /** The application's main class, set by the native launcher before {@link #main} runs. */
    public static String startClass;

    public static void main(String[] args) throws Exception {
        new KestrelLauncher().launch(args);
    }

    @Override
    protected String getMainClass() throws Exception {
        String configured = startClass;
        return configured != null ? configured : super.getMainClass();
    }

    /** Reuses a loader built earlier, for example when it is the system class loader. */
    @Override
    protected ClassLoader createClassLoader(URL[] urls) throws Exception {
        KestrelClassLoader existing = KestrelClassLoader.instance;
        if (existing != null) {
            return existing;
        }
        return new KestrelClassLoader(urls, KestrelLauncher.class.getClassLoader());
    }

    /**
     * The nested archives of the executable; declared here so that the class
     * loader of this package may ask. An archive that cannot be read is an
     * error that ends the start with its description: taken as an empty class
     * path it would only surface later as a missing class, or not at all.
     */
    @Override
    protected List<Archive> getClassPathArchives() throws Exception {
        return super.getClassPathArchives();
    }

    @Override
    protected boolean isNestedArchive(Archive.Entry entry) {
        String name = entry.getName();
        if (entry.isDirectory()) {
            return name.equals(BOOT_INF_CLASSES) || name.equals(WEB_INF_CLASSES);
        }
        return name.startsWith(BOOT_INF_LIB) || name.startsWith(WEB_INF_LIB) || name.startsWith(WEB_INF_LIB_PROVIDED);
    }
}
