package com.tarnwick.nxo;

import com.tarnwick.loader.Archive;
import com.tarnwick.loader.ExecutableArchiveLauncher;

import java.io.BufferedReader;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStreamReader;
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

    /**
     * Runs the application's main class, or, in a start that makes the
     * class-data archive ("nxo.cds.train" names the class lists an earlier
     * start recorded), only loads the classes of those lists, without
     * initialising any: the JVM archives what is loaded when it exits, and
     * nothing of the application runs.
     */
    @Override
    protected void launch(String[] args, String mainClass, ClassLoader classLoader) throws Exception {
        String lists = System.getProperty("nxo.cds.train");
        if (lists == null) {
            super.launch(args, mainClass, classLoader);
            return;
        }
        loadListedClasses(lists + ".jvm.lst", ClassLoader.getSystemClassLoader(), false);
        loadListedClasses(lists + ".loader.lst", classLoader, true);
    }

    /**
     * Loads each class a list names, one per line, as the JVM's own class
     * list or the loader's writes them: a binary name with "/" or "."
     * separators, perhaps followed by attributes after a space; lines
     * starting with "@" or "#" name no class. What cannot be loaded is
     * passed over: the archive only lacks it. The JVM links the classes of
     * its own loaders before it archives them, but leaves out those of other
     * loaders that nothing linked: for those, |link| has each linked here,
     * which asking for its constructors does, still without initialising it.
     */
    private static void loadListedClasses(String file, ClassLoader loader, boolean link) {
        BufferedReader reader;
        try {
            reader = new BufferedReader(new InputStreamReader(new FileInputStream(file), "UTF-8"));
        } catch (IOException e) {
            return;
        }
        try {
            String line;
            while ((line = reader.readLine()) != null) {
                int end = line.indexOf(' ');
                String name = end < 0 ? line : line.substring(0, end);
                if (name.isEmpty() || name.charAt(0) == '@' || name.charAt(0) == '#') {
                    continue;
                }
                try {
                    Class<?> loaded = Class.forName(name.replace('/', '.'), false, loader);
                    if (link) {
                        loaded.getDeclaredConstructors();
                    }
                } catch (Throwable e) {
                    // Not loadable here (absent, or failing to link): not archived.
                }
            }
        } catch (IOException e) {
            // What was read is loaded.
        } finally {
            try {
                reader.close();
            } catch (IOException e) {
                // Read-only.
            }
        }
    }

    /**
     * The executable, which the native launcher names: where it defined the
     * support classes itself, straight from the executable's archive, they
     * have no code source to tell (and asking for one would have the runtime
     * build its all-permissions domain, loading a handful of classes).
     */
    @Override
    protected File archiveFile() {
        String executable = System.getProperty("nxo.app.path");
        if (executable != null && "true".equals(System.getProperty("nxo.support.predefined"))) {
            return new File(executable);
        }
        return super.archiveFile();
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
